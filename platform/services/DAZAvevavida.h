// One component a library offers the platform core: the protocol it serves, when it is made,
// what it depends on and the closure that makes it.
#pragma once

#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class RURAdi;

enum class DAZInstantiationTiming : int {
    Lazy = 0,               // made on the first request
    AlwaysEager = 1,        // made as the default app is configured
    EagerInDefaultApp = 2,  // the same; only the default app exists here
};

class DAZAvevavida : public NSObject {
public:
    using Creation = std::function<std::shared_ptr<NSObject>(const std::shared_ptr<RURAdi>& app)>;

    [[nodiscard]] static std::shared_ptr<DAZAvevavida> componentWithProtocol(const std::string& protocolName,
                                                                             DAZInstantiationTiming timing,
                                                                             std::vector<std::string> dependencies,
                                                                             Creation creationBlock);

    const std::string& protocolName() const { return protocolName_; }
    DAZInstantiationTiming instantiationTiming() const { return timing_; }
    // Protocol names of the components it needs.
    const std::vector<std::string>& dependencies() const { return dependencies_; }
    const Creation& creationBlock() const { return creation_; }

private:
    DAZAvevavida() = default;

    std::string protocolName_;
    DAZInstantiationTiming timing_ = DAZInstantiationTiming::Lazy;
    std::vector<std::string> dependencies_;
    Creation creation_;
};
