// The user's favourite pictures; adding or removing one announces "MessageDataUpdated".
#pragma once

#include "content/Loader_DataSource.h"

class Favorites_DataSource : public Loader_DataSource {
public:
    static std::shared_ptr<Favorites_DataSource> initWithLoader(std::shared_ptr<Loader> loader);

    // One empty category with one empty subcategory.
    CatList catList() override;
    SubCatList subCatList(const std::shared_ptr<dataCat>& cat) override;
    // The favourite pictures in SQLite's order; empty while the "favorites" table does not exist.
    // Kept across other sources' updates: only this source's add and delete rebuild it.
    ContentRowList list(const std::shared_ptr<dataSubCat>& subCat) override;

    // A change that was stored announces "MessageDataUpdated"; a failure announces nothing.
    [[nodiscard]] bool addToFavorites(const Value::Dictionary& row, NSErrorPtr* error = nullptr) override;
    [[nodiscard]] bool deleteFromFavorites(const Value::Dictionary& row, NSErrorPtr* error = nullptr) override;

private:
    explicit Favorites_DataSource(std::shared_ptr<Loader> loader) : Loader_DataSource(std::move(loader)) {}
    void changed();

    ContentRowList favorites_;
};
