// Splitting of the mail server's ";"-separated lists (names, mailboxes).
#pragma once

#include <string>
#include <string_view>

// Returns the text before the first occurrence of separator and leaves the text
// after it in text. Without an occurrence, returns all of text and empties it.
// An empty separator counts as never occurring, so a loop that takes tokens
// until text is empty always ends.
std::string ExtractToken(std::string& text, std::string_view separator);
