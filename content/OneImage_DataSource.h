// One picture by its number, looked up once.
#pragma once

#include "content/Loader_DataSource.h"

#include <cstdint>

class OneImage_DataSource : public Loader_DataSource {
public:
    static std::shared_ptr<OneImage_DataSource> initWithLoader(std::shared_ptr<Loader> loader, std::int64_t imageIndex);

    std::int64_t imageIndex() const { return imageIndex_; }
    // The picture's row, or none when no picture has that number.
    ContentRowList list(const std::shared_ptr<dataSubCat>& subCat = nullptr) override;

private:
    OneImage_DataSource(std::shared_ptr<Loader> loader, std::int64_t imageIndex)
        : Loader_DataSource(std::move(loader)), imageIndex_(imageIndex) {}

    std::int64_t imageIndex_;
    ContentRowList rows_;
};
