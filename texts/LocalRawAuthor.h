// An author row of the images database.
#pragma once

#include "config/OELocalizations.h"
#include "platform/foundation/NSObject.h"
#include "texts/RawAuthor.h"

#include <memory>

class LocalRawAuthor : public NSObject, public RawAuthor {
public:
    static std::shared_ptr<LocalRawAuthor> initWithDict(Value::Dictionary row, std::shared_ptr<OELocalizations> locale);

    std::string name() const override;

private:
    Value::Dictionary row_;
    std::shared_ptr<OELocalizations> locale_;
};
