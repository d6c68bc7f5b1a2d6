// Common ground of the sources that present another source's content differently: favourites
// and, unless the wrapper has its own search object, searches go to the wrapped source.
#include "content/WrappedDataSource.h"

void WrappedDataSource::addToFavorites(const Value::Dictionary& row) {
    if (wrapped_) wrapped_->addToFavorites(row);
}

void WrappedDataSource::deleteFromFavorites(const Value::Dictionary& row) {
    if (wrapped_) wrapped_->deleteFromFavorites(row);
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
