// Search filters written as text (RFC 4515), turned into the BER element a
// client sends, so that test tables read like client settings.
#pragma once

#include <string>
#include <string_view>

// The filter element's octets. Supports &, |, !, =, ~=, >=, <=, =* (presence),
// substrings with *, extensible "type:rule:=value", and \XX escapes in values.
// Raises std::invalid_argument on text it cannot read.
std::string FilterBER(std::string_view text);

// A whole SearchRequest message: message ID octets, base, scope (0, 1, 2),
// sizeLimit, typesOnly, filter text and the requested attributes.
std::string SearchRequestBER(std::string_view messageID, std::string_view base, int scope, int sizeLimit,
                             bool typesOnly, std::string_view filter,
                             const std::initializer_list<std::string_view>& attributes = {});
