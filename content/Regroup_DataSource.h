// The wrapped source's subcategories regrouped by a column of their rows: one category per
// distinct value, in the order the values first appear.
#pragma once

#include "content/WrappedDataSource.h"

#include <map>
#include <vector>

class Regroup_DataSource : public WrappedDataSource {
public:
    static std::shared_ptr<Regroup_DataSource> initWithDataSource(std::shared_ptr<DataSource> source,
                                                                  const std::string& field);

    const std::shared_ptr<DataSource>& oldDataSource() const { return wrapped_; }
    const std::string& field() const { return field_; }

    void dataUpdated() override;
    CatList catList() override;
    // The subcategories under the category's name; none for a name without a group.
    SubCatList subCatList(const std::shared_ptr<dataCat>& cat) override;
    ContentRowList list(const std::shared_ptr<dataSubCat>& subCat) override;

private:
    Regroup_DataSource(std::shared_ptr<DataSource> source, std::string field)
        : WrappedDataSource(std::move(source)), field_(std::move(field)) {}
    void rebuildGroups();

    std::string field_;
    CatList cats_;
    std::map<std::string, SubCatList> data_;
};
