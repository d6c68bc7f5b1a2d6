// An alphabetical index over the wrapped source's pictures: categories are first letters of a
// column's values, subcategories the distinct values, and their lists the rows holding them.
#pragma once

#include "content/WrappedDataSource.h"
#include "config/OELocalizations.h"

#include <map>

class RegroupByData_DataSource : public WrappedDataSource {
public:
    // The value records name their value under the display language's name column of `locale`.
    static std::shared_ptr<RegroupByData_DataSource> initWithDataSource(std::shared_ptr<DataSource> source,
                                                                        const std::string& field,
                                                                        const std::string& descriptionField,
                                                                        std::shared_ptr<OELocalizations> locale);

    const std::shared_ptr<DataSource>& oldDataSource() const { return wrapped_; }

    void dataUpdated() override;
    // Letters sorted without regard to case (an empty value stands under " ").
    CatList catList() override;
    // The values under a letter, sorted without regard to case.
    SubCatList subCatList(const std::shared_ptr<dataCat>& cat) override;
    // The rows holding the subcategory's value.
    ContentRowList list(const std::shared_ptr<dataSubCat>& subCat) override;

    bool catExists(const std::string& name);
    bool subCatExists(const std::string& value, const std::string& letter);

private:
    RegroupByData_DataSource(std::shared_ptr<DataSource> source, std::string field, std::string descr,
                             std::shared_ptr<OELocalizations> locale)
        : WrappedDataSource(std::move(source)), field_(std::move(field)), descr_(std::move(descr)),
          locale_(std::move(locale)) {}
    void rebuildGroups();

    std::string field_;
    std::string descr_;
    std::shared_ptr<OELocalizations> locale_;
    CatList cats_;
    std::map<std::string, SubCatList> data_;
    std::map<std::string, ContentRowList> items_;
};
