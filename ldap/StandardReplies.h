// Answers, when standard searches are answered, to the operations the
// described server passes over: Compare is answered from the directory,
// changes are refused, unknown extended operations are a protocol error.
#pragma once

#include "ldap/LdapRequest.h"

#include <string>

// compareTrue (6) when the named entry has the value, compareFalse (5) when
// it lacks it, noSuchObject (32) when no entry has that DN, protocolError (2)
// when the assertion is incomplete. Values compare after ASCII upper-casing.
std::string CompareAnswer(const TLdapRequest& request, const TCompareRequest& compare);

// unwillingToPerform (53) in the response type of the change operation.
std::string RefusalAnswer(const TLdapRequest& request, const TUpdateRequest& update);

// protocolError (2) in an ExtendedResponse: no extended operation is known.
std::string ExtendedAnswer(const TLdapRequest& request, const TExtendedRequest& extended);
