// A category of tracks (an author, a genre, a country) with its track count.
#pragma once

#include "media/MediaContext.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"
#include "platform/ui/CGGeometry.h"

#include <cstdint>
#include <memory>
#include <string>

class UIImage;

class CompositionCat : public NSObject {
public:
    static std::shared_ptr<CompositionCat> catWithDictioanry(Value::Dictionary row,
                                                             std::shared_ptr<const MediaContext> context);
    static std::shared_ptr<CompositionCat> initWithDictionary(Value::Dictionary row,
                                                              std::shared_ptr<const MediaContext> context) {
        return catWithDictioanry(std::move(row), std::move(context));
    }

    const Value::Dictionary& dictionary() const { return dictionary_; }
    std::int32_t index() const { return dictionary_.get("index").intValue(); }
    std::int32_t compositions_count() const { return dictionary_.get("compositions_count").intValue(); }
    // In the current language.
    std::string name() const;
    // The picture named by "imagePath" when it is found, read at most `shownPoints` on its longer
    // side (the size it is shown at); else the packaged "note".
    std::shared_ptr<UIImage> image(CGFloat shownPoints) const;

private:
    CompositionCat(Value::Dictionary row, std::shared_ptr<const MediaContext> context)
        : dictionary_(std::move(row)), context_(std::move(context)) {}
    const Value::Dictionary dictionary_;
    const std::shared_ptr<const MediaContext> context_;
};
