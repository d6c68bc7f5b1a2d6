// Common ground of the sources that present another source's content differently: favourites
// and, unless the wrapper has its own search object, searches go to the wrapped source.
#include "content/WrappedDataSource.h"

namespace {
bool noSource(NSErrorPtr* error) {
    setError(error, contentError(OEContentErrorNotOpen, "There is no source to keep favourites in."));
    return false;
}
}  // namespace

bool WrappedDataSource::addToFavorites(const Value::Dictionary& row, NSErrorPtr* error) {
    return wrapped_ ? wrapped_->addToFavorites(row, error) : noSource(error);
}

bool WrappedDataSource::deleteFromFavorites(const Value::Dictionary& row, NSErrorPtr* error) {
    return wrapped_ ? wrapped_->deleteFromFavorites(row, error) : noSource(error);
}

bool WrappedDataSource::readsWhole(NSErrorPtr* error) const {
    if (wrapped_) return wrapped_->readsWhole(error);
    setError(error, contentError(OEContentErrorNotOpen, "There is no source to read."));
    return false;
}

bool WrappedDataSource::alowSearch() {
    if (search()) return true;
    return wrapped_ && wrapped_->alowSearch();
}

ContentRowList WrappedDataSource::searchResult(const std::string& text) {
    if (search() || !wrapped_) return DataSource::searchResult(text);
    return wrapped_->searchResult(text);
}

ContentRowList WrappedDataSource::searchLast() {
    if (search() || !wrapped_) return DataSource::searchLast();
    return wrapped_->searchLast();
}

void WrappedDataSource::setLastSearch(ContentRowList rows) {
    if (search() || !wrapped_) return DataSource::setLastSearch(std::move(rows));
    wrapped_->setLastSearch(std::move(rows));
}
