// A request, made inside a photo-library change, to add a picture to the library.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>

class UIImage;

class PHAssetChangeRequest : public NSObject {
public:
    // Only inside the changes block of PHPhotoLibrary::performChanges, as on the platform; a
    // call anywhere else is a programming error and aborts with a message.
    static std::shared_ptr<PHAssetChangeRequest> creationRequestForAssetFromImage(const std::shared_ptr<UIImage>& image);

    const std::shared_ptr<UIImage>& image() const { return image_; }

    explicit PHAssetChangeRequest(std::shared_ptr<UIImage> image) : image_(std::move(image)) {}

private:
    std::shared_ptr<UIImage> image_;
};
