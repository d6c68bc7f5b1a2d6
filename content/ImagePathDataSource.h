// A one-picture list made from a file path alone (a row holding only "imagePath").
#pragma once

#include "content/DataSource.h"

class ImagePathDataSource : public DataSource {
public:
    static std::shared_ptr<ImagePathDataSource> initWithImagePath(const std::string& path);

    // The same one-row list for any subcategory.
    ContentRowList list(const std::shared_ptr<dataSubCat>& subCat = nullptr) override;

private:
    ImagePathDataSource() = default;

    Value::Dictionary row_;
};
