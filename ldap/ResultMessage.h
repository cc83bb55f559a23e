// An LDAPResult message: the answer to any operation that carries no data.
#pragma once

#include "ldap/LdapTags.h"

#include <string>
#include <string_view>

// 30 { 02 messageID, <response> { 0A code, 04 "", 04 errorMessage } }; an
// ExtendedResponse may carry its responseName [10] last.
std::string ResultMessage(std::string_view messageID, TOperationTag response, TResultCode code,
                          std::string_view errorMessage = {}, std::string_view responseName = {});
