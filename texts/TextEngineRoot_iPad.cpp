// The texts browser as the master of a split view.
#include "texts/TextEngineRoot_iPad.h"

std::shared_ptr<TextEngineRoot_iPad> TextEngineRoot_iPad::initWithContext(TextsContext context) {
    return std::make_shared<TextEngineRoot_iPad>(std::move(context));
}
