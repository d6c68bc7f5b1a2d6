// The errors of the engine's server clients: a domain per client under the engine's domain,
// code 0 for a reply the client cannot read, code 1 for an error the server reported and code 2
// for a failing HTTP status without a text.
#pragma once

#include "platform/foundation/NSError.h"

#include <string>

enum OERequestErrorCode : long {
    OERequestErrorWrongResultFormat = 0,
    OERequestErrorServer = 1,
    // The server answered with a status of 400 or above and no error text of its own.
    OERequestErrorHTTPStatus = 2,
};

namespace NSErrorOERequest {

// "com.norvane.ostrelEngine/<subdomain>".
std::string errorDomainWithSubdomain(const std::string& subdomain);
// Code 1 with the server's text as the description.
NSErrorPtr requestErrorWithDescription(const std::string& description, const std::string& subdomain);
// Code 0, "Wrong result format".
NSErrorPtr requestWrongResultFormatError(const std::string& subdomain);
// Code 2, "The server answered with status <status>."
NSErrorPtr requestHTTPStatusError(long statusCode, const std::string& subdomain);

NSErrorPtr likesErrorWithDescription(const std::string& description);
NSErrorPtr likesWrongResultFormatError();
// Code 2, "The server answered with status <status>."
NSErrorPtr likesHTTPStatusError(long statusCode);
NSErrorPtr famousPaintigsErrorWithDescription(const std::string& description);
NSErrorPtr famousWrongResultFormatError();
NSErrorPtr famousHTTPStatusError(long statusCode);

inline constexpr const char* kLikesSubdomain = "likesrequest";
inline constexpr const char* kFamousSubdomain = "famousrquest";

}  // namespace NSErrorOERequest
