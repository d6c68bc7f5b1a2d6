// Naming, finding and reading a picture's files.
#include "gallery/ImageLoader.h"

#include "config/FileSystem.h"
#include "platform/ui/UIImage.h"

namespace {
std::string imagePathOf(const Value::Dictionary& row) { return row.get("imagePath").stringValue(); }
}  // namespace

std::string ImageLoader::hdImagePath(const Value::Dictionary& row) { return hdImagePath(imagePathOf(row)); }

std::string ImageLoader::imagePath(const Value::Dictionary& row) { return imagePath(imagePathOf(row)); }

bool ImageLoader::pictureFileDecodes(const std::string& path) {
    constexpr int kCheckedPixelSize = 64;
    const auto picture = UIImage::reducedImageWithContentsOfFile(path, kCheckedPixelSize);
    return picture && picture->decodes();
}

bool ImageLoader::hdImageExists(const Value::Dictionary& row, const GalleryContext& context) {
    const std::string name = imagePathOf(row);
    if (name.empty() || !context.app.fileSystem) return false;
    const std::string relative = hdImagePath(name);
    return FileSystem::isSafeRelativePath(relative) &&
           context.app.fileSystem->rememberedFilePathInWritableLocation(relative).has_value();
}

std::shared_ptr<ImageLoader> ImageLoader::initWithImageData(Value::Dictionary row, GalleryContext context) {
    return std::make_shared<ImageLoader>(std::move(row), std::move(context));
}

ImageLoader::ImageLoader(Value::Dictionary row, GalleryContext context)
    : imageData_(std::move(row)), context_(std::move(context)) {}

std::shared_ptr<UIImage> ImageLoader::standartQualityImage() const { return load(imagePath(imageData_)); }

std::shared_ptr<UIImage> ImageLoader::hdQualityImage() const { return load(hdImagePath(imageData_)); }

std::shared_ptr<UIImage> ImageLoader::load(const std::string& relative) const {
    if (imagePathOf(imageData_).empty() || !context_.resources) return nullptr;
    // Whole: a page may hold the same picture already.
    return context_.resources->loadWholeImageFrom(relative);
}
