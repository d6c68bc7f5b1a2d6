// A picture row of the images database.
#pragma once

#include "config/OELocalizations.h"
#include "platform/foundation/NSObject.h"
#include "texts/RawImage.h"

#include <memory>

class LocalRawImage : public NSObject, public RawImage {
public:
    static std::shared_ptr<LocalRawImage> initWithDict(Value::Dictionary row, std::shared_ptr<OELocalizations> locale);

    const Value::Dictionary& data() const override { return row_; }
    // "index"
    std::int64_t imageId() const override;
    // "author"
    std::int64_t authorId() const override;
    std::string name() const override;

private:
    Value::Dictionary row_;
    std::shared_ptr<OELocalizations> locale_;
};
