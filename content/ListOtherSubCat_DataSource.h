// The catalogue grouped by another table (for example "author" or "subCat2"): its rows are the
// subcategories and the picture column of the same name points at them.
#pragma once

#include "content/List_DataSource.h"

class ListOtherSubCat_DataSource : public List_DataSource {
public:
    // A table name that is not a plain identifier gives a source whose lists are empty.
    static std::shared_ptr<ListOtherSubCat_DataSource> initWithLoader(std::shared_ptr<Loader> loader,
                                                                      const std::string& subCatTable);

    // Every row of the table in the category, the count-0 fold row of picture-less rows included;
    // the "author" table is ordered by the author name of the user's language.
    SubCatList subCatList(const std::shared_ptr<dataCat>& cat) override;
    // None when the group has no picture.
    ContentRowList list(const std::shared_ptr<dataSubCat>& subCat) override;

    std::string groupingTable() const override { return table_; }

private:
    ListOtherSubCat_DataSource(std::shared_ptr<Loader> loader, std::string table)
        : List_DataSource(std::move(loader)), table_(std::move(table)) {}

    std::string table_;
};
