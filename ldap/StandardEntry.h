// How a directory entry reads when standard searches are answered: a DN of
// its own, one attribute per type with all its values, base64 values
// decoded, and objectClass values when the entry brings none.
#pragma once

#include "directory/UserList.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::array<std::string_view, 4> kDefaultObjectClasses = {"top", "person", "organizationalPerson",
                                                                          "inetOrgPerson"};

struct TStandardAttribute {
    std::string Type; // spelt as its first line spells it
    std::vector<std::string> Values;
};
using TStandardAttributes = std::vector<TStandardAttribute>;

// A stored line's type: "cn:" is what the LDIF reader keeps of "cn:: text",
// whose value is base64.
struct TLineType {
    std::string_view Name;
    bool Base64 = false;
};
TLineType LineTypeOf(std::string_view storedType);

// The value as sent: decoded when the line holds base64 (text that is not
// base64 goes as stored).
std::string WireValue(std::string_view stored, bool base64);

// The entry's attributes in the order their types first appear, objectClass
// last when added. "dn" lines name the entry and are no attribute; lines
// without "=" have no type and are left out.
TStandardAttributes StandardAttributes(const TUserList& list, int index);

// The entry's DN: its first "dn" line; else mail=<first mail value>; else
// cn=<entry name>+entry=<index> (entry=<index> for an empty name). Values
// are escaped.
std::string StandardDN(const TUserList& list, int index);

// The first entry in store order whose DN names the same entry as dn; -1
// when none does.
int FindEntryByDN(const TUserList& list, std::string_view dn);
