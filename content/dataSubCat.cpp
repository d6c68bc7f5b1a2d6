// A subcategory record: a row of "subCat" or of another grouping table, or a bare name.
#include "content/dataSubCat.h"

#include "content/SQLiteEngine.h"
#include "config/OELocalizations.h"

namespace {

std::optional<std::string> column(const Value::Dictionary& row, const char* key) {
    const Value* value = row.find(key);
    if (!value) return std::nullopt;
    return value->stringValue();
}

}  // namespace

std::shared_ptr<dataSubCat> dataSubCat::make() {
    auto sub = std::make_shared<dataSubCat>();
    sub->catTable_ = "subCat";
    sub->subCatDescription_ = "";
    sub->imagePath_ = "";
    return sub;
}

std::shared_ptr<dataSubCat> dataSubCat::emptySubCat() { return make(); }

std::shared_ptr<dataSubCat> dataSubCat::dataSubCatFromDB(const std::shared_ptr<SQLiteEngine>& engine,
                                                         const OELocalizations& locale) {
    if (!engine) return dataSubCatFromRow({}, locale);
    return dataSubCatFromRow(engine->dataFromRow(), locale);
}

std::shared_ptr<dataSubCat> dataSubCat::dataSubCatFromRow(Value::Dictionary row, const OELocalizations& locale) {
    auto sub = std::make_shared<dataSubCat>();
    sub->index_ = row.get("index").intValue();
    sub->bigCatIndex_ = row.get("bigCat").intValue();
    sub->subCatDescription_ = column(row, "description");
    sub->detailText_ = column(row, "date");
    sub->imagePath_ = column(row, "filePath");
    sub->name_ = locale.localizedNameFieldValue(row);
    // Taken, not copied: a row may carry very long texts.
    sub->data_ = std::move(row);
    return sub;
}

std::shared_ptr<dataSubCat> dataSubCat::dataSubCatWithName(const std::string& name, const OELocalizations& locale) {
    auto sub = std::make_shared<dataSubCat>();
    sub->name_ = name;
    sub->subCatDescription_ = "";
    sub->imagePath_ = "";
    sub->data_.set(locale.localizedNameField(), Value(name));
    return sub;
}
