// Every picture whose group value (the row's column `catTable`) is selected.
#pragma once

#include "content/AllImagesList_DataSource.h"

class AllImagesInSelectedCats_DataSource : public AllImagesList_DataSource {
public:
    // `selectedCats`: group value as text → boolean; an absent value counts as not selected.
    static std::shared_ptr<AllImagesInSelectedCats_DataSource> initWithLoader(std::shared_ptr<Loader> loader,
                                                                              Value::Dictionary selectedCats,
                                                                              const std::string& catTable);

    bool checkIfNeedAddData(const Value::Dictionary& row) override;

    const Value::Dictionary& selectedCats() const { return selectedCats_; }
    const std::string& catTable() const { return catTable_; }

private:
    AllImagesInSelectedCats_DataSource(std::shared_ptr<Loader> loader, Value::Dictionary selectedCats, std::string catTable)
        : AllImagesList_DataSource(std::move(loader)), selectedCats_(std::move(selectedCats)),
          catTable_(std::move(catTable)) {}

    Value::Dictionary selectedCats_;
    std::string catTable_;
};
