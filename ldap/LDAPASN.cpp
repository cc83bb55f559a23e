#include "ldap/LDAPASN.h"

#include <utility>

EListIndexError::EListIndexError(int index)
    : std::out_of_range("List index out of bounds (" + std::to_string(index) + ")") {}

EASNDepthError::EASNDepthError()
    : std::runtime_error("BER nesting deeper than " + std::to_string(kMaxASNDepth) + " levels") {}

TASNList::TASNList() = default;

TASNList::~TASNList() {
    // Elements go in index order, as the list promises.
    for (auto& item : FItems) item.reset();
}

TASNList::TASNList(TASNList&& other) noexcept
    : FItems(std::move(other.FItems)), FCount(std::exchange(other.FCount, 0)) {
    other.FItems.clear();
}

TASNList& TASNList::operator=(TASNList&& other) noexcept {
    if (this != &other) {
        FItems = std::move(other.FItems);
        FCount = std::exchange(other.FCount, 0);
        other.FItems.clear();
    }
    return *this;
}

TASNNode& TASNList::Append(int tag, std::string_view value, std::size_t& taken) {
    if (FCount < FItems.size()) {
        TASNNode& node = *FItems[FCount++];
        node.Tag = tag;
        const std::size_t held = node.Value.capacity();
        node.Value.assign(value);
        if (node.Value.capacity() > held) taken += node.Value.capacity() - held;
        node.Children.FCount = 0;
        return node;
    }
    auto node = std::make_unique<TASNNode>();
    node->Tag = tag;
    node->Value.assign(value);
    taken += sizeof(TASNNode) + sizeof(node) + value.size();
    FItems.push_back(std::move(node));
    ++FCount;
    return *FItems.back();
}

TASNNode& TASNList::Add(int tag, std::string_view value) {
    std::size_t taken = 0;
    return Append(tag, value, taken);
}

void TASNList::RaiseIndex(int index) { throw EListIndexError(index); }

std::size_t TASNList::Decode(std::string_view data) {
    FCount = 0;
    std::size_t taken = 0;
    DecodeLevel(*this, data, 1, taken);
    return taken;
}

void TASNList::DecodeInto(TASNNode* parent, std::string_view data) {
    // A parent's own level is unknown here; count it as the first.
    std::size_t taken = 0;
    if (parent == nullptr)
        DecodeLevel(*this, data, 1, taken);
    else
        DecodeLevel(parent->Children, data, 2, taken);
}

// depth is the level of the elements created in `into` (top level = 1). The
// bound keeps recursion, and so stack use, small whatever the input.
void TASNList::DecodeLevel(TASNList& into, std::string_view data, int depth, std::size_t& taken) {
    if (depth > kMaxASNDepth && !data.empty()) throw EASNDepthError();
    std::size_t pos = 0;
    const std::size_t size = data.size();
    while (pos < size) {
        const auto tag = static_cast<unsigned char>(data[pos++]);
        std::uint32_t length = 0;
        if (pos < size) {
            length = static_cast<unsigned char>(data[pos++]);
            if (length >= 0x80) {
                std::size_t n = length - 0x80;
                if (n > size - pos) n = size - pos;
                length = OctetsToInt(data.substr(pos, n));
                pos += n;
            }
        }
        std::size_t contentSize = length;
        if (contentSize > size - pos) contentSize = size - pos;
        const std::string_view content = data.substr(pos, contentSize);
        if ((tag & 0x20) != 0) {
            TASNNode& node = into.Append(tag, {}, taken);
            DecodeLevel(node.Children, content, depth + 1, taken);
        } else {
            into.Append(tag, content, taken);
        }
        pos += contentSize;
    }
}

namespace {

// Encoding runs in two passes so that a large answer is written once into one
// buffer: Measure records every element's content size in pre-order, Write
// replays that order.
std::size_t Measure(const TASNNode& node, std::vector<std::size_t>& sizes) {
    const std::size_t slot = sizes.size();
    sizes.push_back(0);
    std::size_t content = 0;
    if (node.Children.Count() > 0) {
        for (int i = 0; i < node.Children.Count(); ++i) content += Measure(node.Children.Items(i), sizes);
    } else {
        content = node.Value.size();
    }
    sizes[slot] = content;
    return 1 + EncodeLength(content).size() + content;
}

void Write(const TASNNode& node, const std::vector<std::size_t>& sizes, std::size_t& slot, std::string& out) {
    const std::size_t content = sizes[slot++];
    out.push_back(static_cast<char>(node.Tag & 0xFF));
    out += EncodeLength(content);
    if (node.Children.Count() > 0) {
        for (int i = 0; i < node.Children.Count(); ++i) Write(node.Children.Items(i), sizes, slot, out);
    } else {
        out += node.Value;
    }
}

void EncodeInto(const TASNList& list, std::string& out) {
    std::vector<std::size_t> sizes;
    std::size_t total = 0;
    for (int i = 0; i < list.Count(); ++i) total += Measure(list.Items(i), sizes);
    out.reserve(out.size() + total);
    std::size_t slot = 0;
    for (int i = 0; i < list.Count(); ++i) Write(list.Items(i), sizes, slot, out);
}

}  // namespace

std::string TASNList::Encode() const {
    std::string out;
    EncodeInto(*this, out);
    return out;
}

std::string EncodeNode(const TASNNode& node) {
    std::vector<std::size_t> sizes;
    const std::size_t total = Measure(node, sizes);
    std::string out;
    out.reserve(total);
    std::size_t slot = 0;
    Write(node, sizes, slot, out);
    return out;
}

std::string EncodeLength(std::size_t contentSize) {
    std::string out;
    if (contentSize < 0x80) {
        out.push_back(static_cast<char>(contentSize));
        return out;
    }
    // Three length octets whenever they suffice (peers expect exactly this form);
    // beyond that as many as the size needs instead of cutting it.
    int octets = 3;
    while (octets < static_cast<int>(sizeof(std::size_t)) && (contentSize >> (8 * octets)) != 0) ++octets;
    out.push_back(static_cast<char>(0x80 + octets));
    for (int i = octets - 1; i >= 0; --i) out.push_back(static_cast<char>((contentSize >> (8 * i)) & 0xFF));
    return out;
}

std::uint32_t OctetsToInt(std::string_view octets) {
    std::uint32_t value = 0;
    for (const char c : octets) value = (value << 8) | static_cast<unsigned char>(c);
    return value;
}
