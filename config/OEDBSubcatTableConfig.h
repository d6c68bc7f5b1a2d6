// Layout of the subcategories table ("subCat"): its name and its index, name and category columns.
#pragma once

#include "config/OEDBTableColumn.h"

#include <memory>
#include <string>

class OEDBSubcatTableConfig : public NSObject {
public:
    static std::shared_ptr<OEDBSubcatTableConfig> initWithSubcatTableName(
        const std::string& subcatTableName, std::shared_ptr<OEDBTableColumn> subCatIndexColumn,
        std::shared_ptr<OEDBTableColumn> subCatNameColumn, std::shared_ptr<OEDBTableColumn> subCatBigCatColumn);

    const std::string& subcatTableName() const { return subcatTableName_; }
    void setSubcatTableName(const std::string& name) { subcatTableName_ = name; }
    const std::shared_ptr<OEDBTableColumn>& subCatIndex() const { return subCatIndex_; }
    void setSubCatIndex(std::shared_ptr<OEDBTableColumn> column) { subCatIndex_ = std::move(column); }
    const std::shared_ptr<OEDBTableColumn>& subCatName() const { return subCatName_; }
    void setSubCatName(std::shared_ptr<OEDBTableColumn> column) { subCatName_ = std::move(column); }
    const std::shared_ptr<OEDBTableColumn>& subCatBigCat() const { return subCatBigCat_; }
    void setSubCatBigCat(std::shared_ptr<OEDBTableColumn> column) { subCatBigCat_ = std::move(column); }

private:
    std::string subcatTableName_;
    std::shared_ptr<OEDBTableColumn> subCatIndex_;
    std::shared_ptr<OEDBTableColumn> subCatName_;
    std::shared_ptr<OEDBTableColumn> subCatBigCat_;
};
