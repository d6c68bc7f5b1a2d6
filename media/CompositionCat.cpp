// A category of tracks.
#include "media/CompositionCat.h"

#include "platform/ui/UIImage.h"

std::string CompositionCat::name() const { return context_->localizations().localizedNameFieldValue(dictionary_); }

std::shared_ptr<UIImage> CompositionCat::image(CGFloat shownPoints) const {
    const std::string file = dictionary_.get("imagePath").stringValue();
    if (!file.empty() && FileSystem::isSafeRelativePath(file))
        if (auto path = context_->files().findFilePath(file))
            if (auto image = UIImage::reducedImageWithContentsOfFile(*path, UIImage::pixelSizeForPoints(shownPoints)))
                return image;
    return UIImage::imageNamed("note");
}

std::shared_ptr<CompositionCat> CompositionCat::catWithDictioanry(Value::Dictionary row,
                                                                  std::shared_ptr<const MediaContext> context) {
    return std::shared_ptr<CompositionCat>(new CompositionCat(std::move(row), std::move(context)));
}
