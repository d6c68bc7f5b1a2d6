// Per-host trust anchors. libcurl takes one in-memory authority bundle per transfer, in place
// of its default file, so a host with anchors gets the system bundle with its anchors added.
#include "platform/net/URLTrustAnchors.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <curl/curl.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <map>
#include <mutex>

namespace {

constexpr long NSFileReadCorruptFileError = 259;

struct Anchors {
    Mutex mutex;
    std::map<std::string, std::string> pemByHost GUARDED_BY(mutex);
};

Anchors& anchors() {
    static auto* a = new Anchors;  // read by transfers starting while the process exits
    return *a;
}

// The system bundle libcurl would have read; empty when the machine has none.
const std::string& systemAuthorities() {
    static const std::string* bundle = [] {
        auto* text = new std::string;
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        if (info && info->cainfo) {
            if (auto data = readDataFromFile(info->cainfo)) text->assign(data->begin(), data->end());
        }
        return text;
    }();
    return *bundle;
}

int countCertificates(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (!bio) return 0;
    int count = 0;
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        X509_free(certificate);
        ++count;
    }
    BIO_free(bio);
    return count;
}

}  // namespace

bool URLTrustAnchors::addAnchorForHost(const std::string& host, const std::string& pem, NSErrorPtr* error) {
    if (countCertificates(pem) == 0) {
        setError(error, NSError::errorWithDomain(
                            NSCocoaErrorDomain, NSFileReadCorruptFileError,
                            {{NSLocalizedDescriptionKey, "The data couldn\u2019t be read because it isn\u2019t in the correct format."}}));
        return false;
    }
    Anchors& a = anchors();
    MutexLock lock(a.mutex);
    std::string& bundle = a.pemByHost[NSString::lowercaseString(host)];
    bundle += pem;
    if (!bundle.empty() && bundle.back() != '\n') bundle += '\n';
    return true;
}

bool URLTrustAnchors::addAnchorFileForHost(const std::string& host, const std::string& path, NSErrorPtr* error) {
    auto data = readDataFromFile(path, error);
    if (!data) return false;
    return addAnchorForHost(host, std::string(data->begin(), data->end()), error);
}

void URLTrustAnchors::reset() {
    Anchors& a = anchors();
    MutexLock lock(a.mutex);
    a.pemByHost.clear();
}

bool URLTrustAnchors::isEmpty() {
    Anchors& a = anchors();
    MutexLock lock(a.mutex);
    return a.pemByHost.empty();
}

std::string URLTrustAnchors::authoritiesForHost(const std::string& host) {
    std::string hostAnchors;
    {
        Anchors& a = anchors();
        MutexLock lock(a.mutex);
        auto found = a.pemByHost.find(NSString::lowercaseString(host));
        if (found == a.pemByHost.end()) return {};
        hostAnchors = found->second;
    }
    std::string bundle = systemAuthorities();
    if (!bundle.empty() && bundle.back() != '\n') bundle += '\n';
    return bundle + hostAnchors;
}
