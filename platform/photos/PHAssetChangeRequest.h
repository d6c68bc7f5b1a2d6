// A request, made inside a photo-library change, to add a picture to the library: a picture in
// memory, or a picture file whose own bytes the library keeps as they are.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>

class NSURL;
class UIImage;

class PHAssetChangeRequest : public NSObject {
public:
    // Only inside the changes block of PHPhotoLibrary::performChanges, as on the platform; a
    // call anywhere else is a programming error and aborts with a message.
    static std::shared_ptr<PHAssetChangeRequest> creationRequestForAssetFromImage(const std::shared_ptr<UIImage>& image);
    // The same for a PNG or JPEG file (a file URL): the change copies its bytes, decoding nothing,
    // and fails when they are no such picture.
    static std::shared_ptr<PHAssetChangeRequest> creationRequestForAssetFromImageAtFileURL(
        const std::shared_ptr<NSURL>& fileURL);

    // The picture, or the file (none for a picture in memory).
    const std::shared_ptr<UIImage>& image() const { return image_; }
    const std::shared_ptr<NSURL>& fileURL() const { return fileURL_; }

    explicit PHAssetChangeRequest(std::shared_ptr<UIImage> image) : image_(std::move(image)) {}
    explicit PHAssetChangeRequest(std::shared_ptr<NSURL> fileURL) : fileURL_(std::move(fileURL)) {}

private:
    std::shared_ptr<UIImage> image_;
    std::shared_ptr<NSURL> fileURL_;
};
