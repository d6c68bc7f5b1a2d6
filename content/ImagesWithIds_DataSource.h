// Pictures by a list of numbers (the most-liked list, say), in that order, built once.
#pragma once

#include "content/List_DataSource.h"

class ImagesWithIds_DataSource : public List_DataSource {
public:
    // Identifiers as numbers or numeric strings; each taken as a 32-bit signed number.
    static std::shared_ptr<ImagesWithIds_DataSource> initWithLoader(std::shared_ptr<Loader> loader,
                                                                    Value::Array identifiers);

    const Value::Array& identifiers() const { return identifiers_; }
    // Unknown numbers are skipped, repeated ones repeat; data updates do not rebuild it.
    ContentRowList list(const std::shared_ptr<dataSubCat>& subCat = nullptr) override;
    // Its list does not select by group: the walk.
    std::vector<std::string> allPathsInAnyOrder() override { return DataSource::allPathsInAnyOrder(); }

private:
    ImagesWithIds_DataSource(std::shared_ptr<Loader> loader, Value::Array identifiers)
        : List_DataSource(std::move(loader)), identifiers_(std::move(identifiers)) {}

    Value::Array identifiers_;
    ContentRowList rows_;
};
