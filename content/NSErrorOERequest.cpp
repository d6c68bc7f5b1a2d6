// The errors of the engine's server clients.
#include "content/NSErrorOERequest.h"

#include "platform/foundation/NSString.h"

namespace NSErrorOERequest {

std::string errorDomainWithSubdomain(const std::string& subdomain) {
    return NSString::stringByAppendingPathComponent("com.norvane.ostrelEngine", subdomain);
}

NSErrorPtr requestErrorWithDescription(const std::string& description, const std::string& subdomain) {
    return NSError::errorWithDomain(errorDomainWithSubdomain(subdomain), OERequestErrorServer,
                                    {{NSLocalizedDescriptionKey, Value(description)}});
}

NSErrorPtr requestWrongResultFormatError(const std::string& subdomain) {
    return NSError::errorWithDomain(errorDomainWithSubdomain(subdomain), OERequestErrorWrongResultFormat,
                                    {{NSLocalizedDescriptionKey, Value("Wrong result format")}});
}

NSErrorPtr likesErrorWithDescription(const std::string& description) {
    return requestErrorWithDescription(description, kLikesSubdomain);
}

NSErrorPtr likesWrongResultFormatError() { return requestWrongResultFormatError(kLikesSubdomain); }

NSErrorPtr requestHTTPStatusError(long statusCode, const std::string& subdomain) {
    return NSError::errorWithDomain(
        errorDomainWithSubdomain(subdomain), OERequestErrorHTTPStatus,
        {{NSLocalizedDescriptionKey, Value(NSString::format("The server answered with status %ld.", statusCode))}});
}

NSErrorPtr likesHTTPStatusError(long statusCode) { return requestHTTPStatusError(statusCode, kLikesSubdomain); }

NSErrorPtr famousPaintigsErrorWithDescription(const std::string& description) {
    return requestErrorWithDescription(description, kFamousSubdomain);
}

NSErrorPtr famousWrongResultFormatError() { return requestWrongResultFormatError(kFamousSubdomain); }

NSErrorPtr famousHTTPStatusError(long statusCode) { return requestHTTPStatusError(statusCode, kFamousSubdomain); }

}  // namespace NSErrorOERequest
