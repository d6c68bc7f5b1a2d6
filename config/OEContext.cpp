// The context of one run, made from its configuration.
#include "config/OEContext.h"

OEContext OEContext::withConfig(std::shared_ptr<OEConfig> config) {
    OEContext context;
    if (config && config->locale()) {
        const std::string nameKey = config->database() ? config->database()->nameFieldKey() : std::string();
        context.localizations = OELocalizations::initWithConfig(config->locale(), nameKey);
    }
    context.config = std::move(config);
    context.fileSystem = FileSystem::sharedFileSystem();
    return context;
}
