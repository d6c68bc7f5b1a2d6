// A subcategory record: a row of "subCat" or of another grouping table, or a bare name.
#pragma once

#include "content/dataCat.h"
#include "platform/foundation/Value.h"

class OELocalizations;

#include <optional>

class dataSubCat : public dataCat {
public:
    dataSubCat() = default;

    static std::shared_ptr<dataSubCat> make();
    static std::shared_ptr<dataSubCat> emptySubCat();
    // The engine's current row: index, bigCat, description, date, filePath and the localised name.
    static std::shared_ptr<dataSubCat> dataSubCatFromDB(const std::shared_ptr<SQLiteEngine>& engine,
                                                        const OELocalizations& locale);
    // A name only; its row holds the name under the display language's name column.
    static std::shared_ptr<dataSubCat> dataSubCatWithName(const std::string& name, const OELocalizations& locale);
    // Built from an already read row.
    static std::shared_ptr<dataSubCat> dataSubCatFromRow(Value::Dictionary row, const OELocalizations& locale);

    // Subcategory records come only from the subcategory factories.
    static std::shared_ptr<dataCat> emptyCat() { return nullptr; }
    static std::shared_ptr<dataCat> dataCatFromDB(const std::shared_ptr<SQLiteEngine>&) { return nullptr; }
    static std::shared_ptr<dataCat> dataCatWithName(const std::string&) { return nullptr; }

    // -1 when the record names no category.
    std::int32_t bigCatIndex() const { return bigCatIndex_; }
    // Nothing when the row had no such column.
    const std::optional<std::string>& subCatDescription() const { return subCatDescription_; }
    void setSubCatDescription(std::optional<std::string> text) { subCatDescription_ = std::move(text); }
    const std::optional<std::string>& imagePath() const { return imagePath_; }
    const std::optional<std::string>& detailText() const { return detailText_; }
    // The whole row, computed columns such as "images_count" included; empty for a bare record.
    const Value::Dictionary& data() const { return data_; }
    // "subCat" for a plainly made record, the grouping table when a source sets it; "" when unset.
    const std::string& catTable() const { return catTable_; }
    void setCatTable(const std::string& table) { catTable_ = table; }

private:
    std::int32_t bigCatIndex_ = -1;
    std::optional<std::string> subCatDescription_;
    std::optional<std::string> imagePath_;
    std::optional<std::string> detailText_;
    Value::Dictionary data_;
    std::string catTable_;
};
