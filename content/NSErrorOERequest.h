// The errors of the engine's server clients: a domain per client under the engine's domain,
// code 0 for a reply the client cannot read and code 1 for an error the server reported.
#pragma once

#include "platform/foundation/NSError.h"

#include <string>

enum OERequestErrorCode : long {
    OERequestErrorWrongResultFormat = 0,
    OERequestErrorServer = 1,
};

namespace NSErrorOERequest {

// "com.norvane.ostrelEngine/<subdomain>".
std::string errorDomainWithSubdomain(const std::string& subdomain);
// Code 1 with the server's text as the description.
NSErrorPtr requestErrorWithDescription(const std::string& description, const std::string& subdomain);
// Code 0, "Wrong result format".
NSErrorPtr requestWrongResultFormatError(const std::string& subdomain);

NSErrorPtr likesErrorWithDescription(const std::string& description);
NSErrorPtr likesWrongResultFormatError();
NSErrorPtr famousPaintigsErrorWithDescription(const std::string& description);
NSErrorPtr famousWrongResultFormatError();

inline constexpr const char* kLikesSubdomain = "likesrequest";
inline constexpr const char* kFamousSubdomain = "famousrquest";

}  // namespace NSErrorOERequest
