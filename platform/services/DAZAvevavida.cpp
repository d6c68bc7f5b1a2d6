// A component record of the platform core.
#include "platform/services/DAZAvevavida.h"

std::shared_ptr<DAZAvevavida> DAZAvevavida::componentWithProtocol(const std::string& protocolName,
                                                                  DAZInstantiationTiming timing,
                                                                  std::vector<std::string> dependencies,
                                                                  Creation creationBlock) {
    auto component = std::shared_ptr<DAZAvevavida>(new DAZAvevavida());
    component->protocolName_ = protocolName;
    component->timing_ = timing;
    component->dependencies_ = std::move(dependencies);
    component->creation_ = std::move(creationBlock);
    return component;
}
