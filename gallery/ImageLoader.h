// A picture's two files on the device: the standard one ("Data/<picture>") and the
// high-resolution one ("Data/hd-<picture>"), named from the row's "imagePath", found and read.
#pragma once

#include "gallery/GalleryContext.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class UIImage;

class ImageLoader : public NSObject {
public:
    // "Data/hd-<imagePath>" and "Data/<imagePath>", relative to the folders searched.
    static std::string hdImagePath(const Value::Dictionary& row);
    static std::string imagePath(const Value::Dictionary& row);
    static std::string hdImagePath(const std::string& imagePath) { return "Data/hd-" + imagePath; }
    static std::string imagePath(const std::string& imagePath) { return "Data/" + imagePath; }
    // The high-resolution file is in a writable folder (Documents, the private Library folder
    // or Caches; never the bundle). A name that would lead out of those folders is never there.
    // The answer is remembered: whatever puts the file in place or removes it announces it.
    static bool hdImageExists(const Value::Dictionary& row, const GalleryContext& context);
    // Whether the whole body of the picture file at `path` decodes, not its header alone (a
    // download cut short has a sound header). Decoded small: every row is still read, and no
    // picture is held whole to find out.
    static bool pictureFileDecodes(const std::string& path);

    static std::shared_ptr<ImageLoader> initWithImageData(Value::Dictionary row, GalleryContext context);
    ImageLoader(Value::Dictionary row, GalleryContext context);

    const Value::Dictionary& imageData() const { return imageData_; }
    // The picture read from the device, or none (missing, or a name leading out of the folders):
    // the very one a page holds whole when it shows that file, else one decoded only when drawn.
    std::shared_ptr<UIImage> standartQualityImage() const;
    std::shared_ptr<UIImage> hdQualityImage() const;
    std::shared_ptr<UIImage> getImage() const { return hdQualityImage(); }

private:
    std::shared_ptr<UIImage> load(const std::string& relative) const;

    Value::Dictionary imageData_;
    GalleryContext context_;
};
