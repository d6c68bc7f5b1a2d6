// A data source bound to a Loader, with favourites kept in the "favorites" table.
#pragma once

#include "content/DataSource.h"
#include "content/Loader.h"

class Loader_DataSource : public DataSource {
public:
    static std::shared_ptr<Loader_DataSource> initWithLoader(std::shared_ptr<Loader> loader);

    const std::shared_ptr<Loader>& loader() const { return loader_; }

    bool mayAddToFavorites() override { return true; }
    // The picture number is the row's "index"; a database without the table gets it on the
    // first favourite. Adding a favourite again changes nothing and answers true; without an open
    // database both answer false with OEContentErrorNotOpen.
    bool inFavorites(const Value::Dictionary& row) override;
    [[nodiscard]] bool addToFavorites(const Value::Dictionary& row, NSErrorPtr* error = nullptr) override;
    [[nodiscard]] bool deleteFromFavorites(const Value::Dictionary& row, NSErrorPtr* error = nullptr) override;
    // OEContentErrorNotOpen without an open database, OEContentErrorDamaged once a read of any
    // connection to its file met damaged pages.
    [[nodiscard]] bool readsWhole(NSErrorPtr* error = nullptr) const override;

protected:
    explicit Loader_DataSource(std::shared_ptr<Loader> loader) : loader_(std::move(loader)) {}
    // The loader's engine, or nothing when the database could not be opened.
    std::shared_ptr<SQLiteEngine> engine() const { return loader_ ? loader_->sql() : nullptr; }
    // The loader's localisations; only where there is a loader.
    const OELocalizations& localizations() const { return loader_->localizations(); }

private:
    std::shared_ptr<Loader> loader_;
};
