// Layout of the texts table ("texts"): its name and the positions of its columns.
#pragma once

#include "config/OEDBTableColumn.h"

#include <memory>
#include <string>

class OEDBTextsTableConfig : public NSObject {
public:
    static std::shared_ptr<OEDBTextsTableConfig> initWithTextsTableName(
        const std::string& textsTableName, std::shared_ptr<OEDBTableColumn> textsIndexColumn,
        std::shared_ptr<OEDBTableColumn> textsTextColumn, std::shared_ptr<OEDBTableColumn> textsShortColumn,
        std::shared_ptr<OEDBTableColumn> textsWCColumn, std::shared_ptr<OEDBTableColumn> textsCatColumn);

    const std::string& textsTableName() const { return textsTableName_; }
    void setTextsTableName(const std::string& name) { textsTableName_ = name; }
    const std::shared_ptr<OEDBTableColumn>& textsIndex() const { return textsIndex_; }
    void setTextsIndex(std::shared_ptr<OEDBTableColumn> column) { textsIndex_ = std::move(column); }
    const std::shared_ptr<OEDBTableColumn>& textsText() const { return textsText_; }
    void setTextsText(std::shared_ptr<OEDBTableColumn> column) { textsText_ = std::move(column); }
    const std::shared_ptr<OEDBTableColumn>& textsShort() const { return textsShort_; }
    void setTextsShort(std::shared_ptr<OEDBTableColumn> column) { textsShort_ = std::move(column); }
    const std::shared_ptr<OEDBTableColumn>& textsWC() const { return textsWC_; }
    void setTextsWC(std::shared_ptr<OEDBTableColumn> column) { textsWC_ = std::move(column); }
    const std::shared_ptr<OEDBTableColumn>& textsCat() const { return textsCat_; }
    void setTextsCat(std::shared_ptr<OEDBTableColumn> column) { textsCat_ = std::move(column); }

private:
    std::string textsTableName_;
    std::shared_ptr<OEDBTableColumn> textsIndex_;
    std::shared_ptr<OEDBTableColumn> textsText_;
    std::shared_ptr<OEDBTableColumn> textsShort_;
    std::shared_ptr<OEDBTableColumn> textsWC_;
    std::shared_ptr<OEDBTableColumn> textsCat_;
};
