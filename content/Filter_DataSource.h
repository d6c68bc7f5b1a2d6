// The pictures of one subcategory whose value in a chosen column is among selected values.
#pragma once

#include "content/WrappedDataSource.h"

#include <vector>

class Filter_DataSource : public WrappedDataSource {
public:
    static std::shared_ptr<Filter_DataSource> initWithDataSource(std::shared_ptr<DataSource> source,
                                                                 std::shared_ptr<dataSubCat> subCat,
                                                                 const std::string& field,
                                                                 std::vector<std::string> selectedItems);

    const std::shared_ptr<DataSource>& originalDataSource() const { return wrapped_; }
    const std::shared_ptr<dataSubCat>& subCat() const { return subCat_; }
    const std::string& field() const { return field_; }
    const std::vector<std::string>& selectedItems() const { return selectedItems_; }

    void dataUpdated() override;
    CatList catList() override { return nullptr; }
    SubCatList subCatList(const std::shared_ptr<dataCat>&) override { return nullptr; }
    // The wrapped list's rows that match, in its order, each once.
    ContentRowList list(const std::shared_ptr<dataSubCat>& subCat = nullptr) override;
    bool alowDeleteSubCats() override { return false; }
    bool alowSearch() override { return false; }

private:
    Filter_DataSource(std::shared_ptr<DataSource> source, std::shared_ptr<dataSubCat> subCat, std::string field,
                      std::vector<std::string> selectedItems)
        : WrappedDataSource(std::move(source)), subCat_(std::move(subCat)), field_(std::move(field)),
          selectedItems_(std::move(selectedItems)) {}
    ContentRowList filter();

    std::shared_ptr<dataSubCat> subCat_;
    std::string field_;
    std::vector<std::string> selectedItems_;
    ContentRowList filteredList_;
};
