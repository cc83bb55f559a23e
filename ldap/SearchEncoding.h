// Search answer messages encoded straight into an output buffer: the same
// octets TASNList::Encode gives for the same messages, without building a tree.
#pragma once

#include "directory/UserList.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// Octets EncodeLength writes for a content of this size.
std::size_t LengthSize(std::size_t contentSize);
// Appends the length octets EncodeLength gives.
void AppendLength(std::string& out, std::size_t contentSize);

// Builds one SearchResultEntry message in two passes over the entry's lines:
// Measure every line first, then Begin, Line for the same lines in the same
// order, and nothing else in between. Nothing is allocated per line.
class TEntryMessageWriter {
public:
    TEntryMessageWriter(std::string_view messageID, std::string_view entryName)
        : FMessageID(messageID), FName(entryName)
    {
    }
    // A line "type=value" (a line without "=" has an empty type and is all value).
    void Measure(std::string_view type, std::string_view value);
    // Appends the message header; reserves room for the whole message.
    void Begin(std::string& out) const;
    void Line(std::string& out, std::string_view type, std::string_view value) const;

private:
    static std::size_t AttributeContent(std::string_view type, std::string_view value);
    std::string_view FMessageID;
    std::string_view FName;
    std::size_t FAttributes = 0; // content of the attribute list
};

// The same message as TEntryMessageWriter gives for these lines, sized once
// and written in place.
void AppendEntryMessage(std::string& out, std::string_view messageID, std::string_view entryName,
                        std::span<const TLineView> lines);

// The SearchResultEntry element alone, without the message around it: what
// AppendMessage puts under any message ID to give AppendEntryMessage's octets.
void AppendEntryOperation(std::string& out, std::string_view entryName, std::span<const TLineView> lines);
// A message: the ID, then an operation element already encoded.
void AppendMessage(std::string& out, std::string_view messageID, std::string_view operation);
// The octets of that message, and the message written at p with room for
// them (returns the end): for runs of messages sized before they are written.
std::size_t MessageSize(std::string_view messageID, std::size_t operationSize);
char* PutMessage(char* p, std::string_view messageID, std::string_view operation);

// The SearchResultDone message (success, empty matched DN and message).
void AppendSearchResultDone(std::string& out, std::string_view messageID);
