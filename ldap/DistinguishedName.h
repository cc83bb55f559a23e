// Distinguished names as text (RFC 4514): escaping a value, and a form in
// which two spellings of one name compare equal.
#pragma once

#include <string>
#include <string_view>

// value with the octets RFC 4514 reserves escaped: , + " \ < > ; always, a
// leading # or blank, a trailing blank, and NUL as \00.
std::string EscapeDNValue(std::string_view value);

// Letters raised to upper case, escapes resolved, blanks around the type and
// around each value dropped; separators kept, so a different structure never
// compares equal. Values whose escapes resolve to a separator are written
// back escaped.
std::string NormalizedDN(std::string_view dn);
