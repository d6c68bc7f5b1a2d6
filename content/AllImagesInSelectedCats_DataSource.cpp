// Every picture whose group value (the row's column `catTable`) is selected.
#include "content/AllImagesInSelectedCats_DataSource.h"

std::shared_ptr<AllImagesInSelectedCats_DataSource> AllImagesInSelectedCats_DataSource::initWithLoader(
    std::shared_ptr<Loader> loader, Value::Dictionary selectedCats, const std::string& catTable) {
    std::shared_ptr<AllImagesInSelectedCats_DataSource> source(
        new AllImagesInSelectedCats_DataSource(std::move(loader), std::move(selectedCats), catTable));
    source->observeDataUpdates();
    return source;
}

bool AllImagesInSelectedCats_DataSource::checkIfNeedAddData(const Value::Dictionary& row) {
    if (!AllImagesList_DataSource::checkIfNeedAddData(row)) return false;
    const Value& selected = selectedCats_.get(row.get(catTable_).stringValue());
    return selected.isNumber() && selected.boolValue();
}
