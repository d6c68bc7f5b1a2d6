// Common ground of the sources that present another source's content differently: favourites
// and, unless the wrapper has its own search object, searches go to the wrapped source.
#pragma once

#include "content/DataSource.h"

class WrappedDataSource : public DataSource {
public:
    const std::shared_ptr<DataSource>& wrappedDataSource() const { return wrapped_; }

    bool mayAddToFavorites() override { return wrapped_ && wrapped_->mayAddToFavorites(); }
    bool inFavorites(const Value::Dictionary& row) override { return wrapped_ && wrapped_->inFavorites(row); }
    // Without a wrapped source: false with OEContentErrorNotOpen.
    [[nodiscard]] bool addToFavorites(const Value::Dictionary& row, NSErrorPtr* error = nullptr) override;
    [[nodiscard]] bool deleteFromFavorites(const Value::Dictionary& row, NSErrorPtr* error = nullptr) override;

    // The wrapped source's answer; OEContentErrorNotOpen without one.
    [[nodiscard]] bool readsWhole(NSErrorPtr* error = nullptr) const override;

    bool alowSearch() override;
    ContentRowList searchResult(const std::string& text) override;
    ContentRowList searchLast() override;
    void setLastSearch(ContentRowList rows) override;

protected:
    explicit WrappedDataSource(std::shared_ptr<DataSource> wrapped) : wrapped_(std::move(wrapped)) {}

    std::shared_ptr<DataSource> wrapped_;
};
