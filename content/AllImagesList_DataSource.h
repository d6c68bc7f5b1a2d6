// Every picture of the database, as one list whatever subcategory is asked for.
#pragma once

#include "content/List_DataSource.h"

class AllImagesList_DataSource : public List_DataSource {
public:
    static std::shared_ptr<AllImagesList_DataSource> initWithLoader(std::shared_ptr<Loader> loader);

    std::string requestStringForCat(const std::shared_ptr<dataSubCat>& subCat) override;
    std::string catKey(const std::shared_ptr<dataSubCat>&) override { return "##AllImagesKey"; }
    // Its lists do not select by group: the walk (over the one cached list).
    std::vector<std::string> allPathsInAnyOrder() override { return DataSource::allPathsInAnyOrder(); }

protected:
    explicit AllImagesList_DataSource(std::shared_ptr<Loader> loader) : List_DataSource(std::move(loader)) {}
};
