#include "config/Option.h"

#include "config/AsciiText.h"
#include "config/DateTimeText.h"
#include "config/ProfileFile.h"

#include <mutex>
#include <stdexcept>
#include <utility>

std::string TOption::AsText() const
{
    switch (Kind) {
    case okString: return Value.AsString();
    case okInteger: return IntegerToText(Value.AsInteger());
    case okFloat: return FloatToText(Value.AsDouble());
    case okDateTime: return DateTimeToText(Value.AsDouble());
    case okBoolean: return Value.AsBoolean() ? "Yes" : "No";
    default: return {};
    }
}

void TOption::SetAsText(const std::string& text)
{
    switch (Kind) {
    case okString: Value = TValue(text); break;
    case okInteger: Value = TValue(TextToInteger(text)); break;
    case okFloat: Value = TValue(TextToFloat(text)); break;
    case okDateTime: Value = TValue::DateTime(TextToDateTime(text)); break;
    case okBoolean: Value = TValue(text == "Yes"); break;
    default: Value = TValue::Null(); break;
    }
}

namespace {
// One sequence for every list, so that a list made where another was freed
// never repeats its generation.
std::atomic<std::uint64_t> NextGeneration{1};
} // namespace

TOptions::TOptions() : FGeneration(NextGeneration.fetch_add(1, std::memory_order_relaxed)) {}

void TOptions::Stamp() { FGeneration.store(NextGeneration.fetch_add(1, std::memory_order_relaxed), std::memory_order_release); }

int TOptions::AddOption(const std::string& name, uint8_t kind, const TValue& defaultValue)
{
    std::unique_lock lock(FLock);
    Stamp();
    TOption option;
    option.Name = name;
    option.Kind = kind;
    option.Value = defaultValue;
    FOptions.push_back(std::move(option));
    return static_cast<int>(FOptions.size()) - 1;
}

int TOptions::IndexOfLocked(const std::string& name) const
{
    for (std::size_t i = 0; i < FOptions.size(); ++i)
        if (SameTextASCII(FOptions[i].Name, name)) return static_cast<int>(i);
    return -1;
}

const TOption& TOptions::At(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= FOptions.size())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return FOptions[static_cast<std::size_t>(index)];
}

TOption& TOptions::At(int index) { return const_cast<TOption&>(std::as_const(*this).At(index)); }

int TOptions::IndexOfOption(const std::string& name) const
{
    std::shared_lock lock(FLock);
    return IndexOfLocked(name);
}

int TOptions::Count() const
{
    std::shared_lock lock(FLock);
    return static_cast<int>(FOptions.size());
}

TOption TOptions::Option(int index) const
{
    std::shared_lock lock(FLock);
    return At(index);
}

void TOptions::LoadFromFile(const std::string& path)
{
    const TProfileFile file(path);
    std::unique_lock lock(FLock);
    Stamp();
    for (const std::string& name : file.KeyNames(kOptionsSection)) {
        const int index = IndexOfLocked(name);
        if (index < 0) continue;
        try {
            FOptions[static_cast<std::size_t>(index)].SetAsText(file.ReadString(kOptionsSection, name));
        } catch (const EConvertError& e) {
            throw ESettingError(e.what(), name, path);
        }
    }
}

void TOptions::SaveToFile(const std::string& path) const
{
    std::vector<std::pair<std::string, std::string>> keys;
    {
        std::shared_lock lock(FLock);
        keys.reserve(FOptions.size());
        for (const TOption& option : FOptions) keys.emplace_back(option.Name, option.AsText());
    }
    WriteProfileStrings(path, kOptionsSection, keys);
}

void TOptions::RememberValues()
{
    std::unique_lock lock(FLock);
    for (TOption& option : FOptions) option.PreviousValue = option.Value;
}

TValue TOptions::GetValue(const std::string& name) const
{
    std::shared_lock lock(FLock);
    const int index = IndexOfLocked(name);
    return index < 0 ? TValue::Null() : FOptions[static_cast<std::size_t>(index)].Value;
}

TValue TOptions::GetPreviousValue(const std::string& name) const
{
    std::shared_lock lock(FLock);
    const int index = IndexOfLocked(name);
    return index < 0 ? TValue::Null() : FOptions[static_cast<std::size_t>(index)].PreviousValue;
}

bool TOptions::SetValue(const std::string& name, const TValue& value)
{
    std::unique_lock lock(FLock);
    Stamp();
    const int index = IndexOfLocked(name);
    if (index < 0) return false;
    FOptions[static_cast<std::size_t>(index)].Value = value;
    return true;
}

std::string TOptions::GetAsText(int index) const
{
    std::shared_lock lock(FLock);
    return At(index).AsText();
}

void TOptions::SetAsText(int index, const std::string& text)
{
    std::unique_lock lock(FLock);
    Stamp();
    At(index).SetAsText(text);
}

int32_t TOptions::GetAsInteger(int index) const
{
    std::shared_lock lock(FLock);
    return At(index).AsInteger();
}

void TOptions::SetAsInteger(int index, int32_t value)
{
    std::unique_lock lock(FLock);
    Stamp();
    At(index).SetAsInteger(value);
}

bool TOptions::GetAsBoolean(int index) const
{
    std::shared_lock lock(FLock);
    return At(index).AsBoolean();
}

void TOptions::SetAsBoolean(int index, bool value)
{
    std::unique_lock lock(FLock);
    Stamp();
    At(index).SetAsBoolean(value);
}
