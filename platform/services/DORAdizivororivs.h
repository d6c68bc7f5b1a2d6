// The installations service: one identifier per installation of the application, kept in the
// standard user defaults, and a notification when it changes.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

inline constexpr const char* DORAdizivororivIDDidChangeNotification = "DORAdizivororivIDDidChangeNotification";

class DORAdizivororivs : public NSObject {
public:
    using Completion = std::function<void(const std::optional<std::string>& identifier, const NSErrorPtr& error)>;
    static constexpr const char* kDefaultsKey = "DORAdizivororivs.installationID";

    static std::shared_ptr<DORAdizivororivs> installations();

    // The identifier (made on first use), or the error the service is failing with; the
    // completion runs on a global queue.
    void installationIDWithCompletion(Completion completion);
    // Forgets the identifier: the next one is new, and observers are told.
    void deleteInstallationID();
    // Answers every request with `error` until called with none (a service that cannot be reached).
    void setFailure(NSErrorPtr error);

    // Forgets the shared instance and its failure, as a new process would start (tests).
    static void reset();

private:
    Mutex mutex_;  // also keeps the stored identifier's read and first write together
    NSErrorPtr failure_ GUARDED_BY(mutex_);
};
