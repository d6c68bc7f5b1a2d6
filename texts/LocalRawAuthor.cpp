// An author row in the current language.
#include "texts/LocalRawAuthor.h"

std::shared_ptr<LocalRawAuthor> LocalRawAuthor::initWithDict(Value::Dictionary row,
                                                             std::shared_ptr<OELocalizations> locale) {
    auto author = std::make_shared<LocalRawAuthor>();
    author->row_ = std::move(row);
    author->locale_ = std::move(locale);
    return author;
}

std::string LocalRawAuthor::name() const { return locale_ ? locale_->localizedNameFieldValue(row_) : ""; }
