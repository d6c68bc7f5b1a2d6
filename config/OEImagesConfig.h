// The images part of the configuration: storage type, search language and the groupings.
#pragma once

#include "config/OEImageCategory.h"

#include <cstdint>
#include <memory>
#include <vector>

class OEImagesConfig : public NSObject {
public:
    static std::shared_ptr<OEImagesConfig> initWithImageStorageTypee(
        std::int32_t imageStorageType, bool onlyEnglishLocale,
        std::vector<std::shared_ptr<OEImageCategory>> imagesCategories);

    std::int32_t imageStorageType() const { return imageStorageType_; }
    void setImageStorageType(std::int32_t value) { imageStorageType_ = value; }
    // The catalogue search then looks in the English name column.
    bool onlyEnglishLocale() const { return onlyEnglishLocale_; }
    void setOnlyEnglishLocale(bool value) { onlyEnglishLocale_ = value; }
    const std::vector<std::shared_ptr<OEImageCategory>>& imagesCategories() const { return imagesCategories_; }
    void setImagesCategories(std::vector<std::shared_ptr<OEImageCategory>> value) { imagesCategories_ = std::move(value); }

private:
    std::int32_t imageStorageType_ = 0;
    bool onlyEnglishLocale_ = false;
    std::vector<std::shared_ptr<OEImageCategory>> imagesCategories_;
};
