// Layout of the categories table ("bigCat"): its name and its index and name columns.
#pragma once

#include "config/OEDBTableColumn.h"

#include <memory>
#include <string>

class OEDBCatTableConfig : public NSObject {
public:
    static std::shared_ptr<OEDBCatTableConfig> initWithCatTableName(
        const std::string& catTableName, std::shared_ptr<OEDBTableColumn> bigCatIndexColumn,
        std::shared_ptr<OEDBTableColumn> bigCatNameColumn);

    const std::string& categoriesTable() const { return categoriesTable_; }
    void setCategoriesTable(const std::string& name) { categoriesTable_ = name; }
    const std::shared_ptr<OEDBTableColumn>& bigCatIndex() const { return bigCatIndex_; }
    void setBigCatIndex(std::shared_ptr<OEDBTableColumn> column) { bigCatIndex_ = std::move(column); }
    const std::shared_ptr<OEDBTableColumn>& bigCatName() const { return bigCatName_; }
    void setBigCatName(std::shared_ptr<OEDBTableColumn> column) { bigCatName_ = std::move(column); }

private:
    std::string categoriesTable_;
    std::shared_ptr<OEDBTableColumn> bigCatIndex_;
    std::shared_ptr<OEDBTableColumn> bigCatName_;
};
