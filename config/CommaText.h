// The list form of a string list as one comma-separated text (as stored for
// interface addresses): items joined by commas, an item holding a comma, blank,
// control character or double quote stands in double quotes with inner quotes
// doubled.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Unquoted items end at a comma or at any character up to the blank; a quoted
// item ends at its closing quote (or at the end of the text). Blanks around items
// separate them; a trailing comma adds one empty item. Empty or blank text gives
// an empty list. A NUL character ends the text.
std::vector<std::string> SplitCommaText(std::string_view text);

// Inverse of SplitCommaText. A list of one empty item is written "" so that it
// reads back as one item.
std::string JoinCommaText(const std::vector<std::string>& items);
