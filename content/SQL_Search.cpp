// The catalogue search: loads the picture-and-author table once per language and answers each
// text from memory with a case-sensitive substring test on one column.
#include "content/SQL_Search.h"

#include "content/ContentSQL.h"
#include "config/OELocalizations.h"
#include "config/OESQLIdentifier.h"
#include "platform/foundation/NSString.h"

std::shared_ptr<SQL_Search> SQL_Search::sqlSearchWithLoader(std::shared_ptr<Loader> loader, const std::string& field) {
    return initWithLoader(std::move(loader), field);
}

std::shared_ptr<SQL_Search> SQL_Search::initWithLoader(std::shared_ptr<Loader> loader, const std::string& field) {
    return std::shared_ptr<SQL_Search>(new SQL_Search(std::move(loader), field));
}

std::string SQL_Search::lastRequest() const {
    MutexLock guard(mutex_);
    return lastRequest_;
}

void SQL_Search::setLastRequest(const std::string& sql) {
    MutexLock guard(mutex_);
    lastRequest_ = sql;
}

ContentRowList SQL_Search::requestResult() const {
    MutexLock guard(mutex_);
    return requestResult_;
}

void SQL_Search::setRequestResult(ContentRowList rows) {
    MutexLock guard(mutex_);
    requestResult_ = std::move(rows);
}

std::string SQL_Search::tableRequest() const {
    if (!loader_) return {};
    const OELocalizations& locale = loader_->localizations();
    const std::string language = locale.languageStr();
    std::string alias = locale.localizedAuthorField();
    if (!OESQLIdentifier::isPlain(alias)) alias = locale.authorNameFieldKey();
    // The description in the reader's language too, under the name the picture screens read it
    // by (its fall-back included), so a picture found here has its author's information.
    std::string description = NSString::format("author.\"%@\" as %@", locale.descriptionFieldKey(),
                                               locale.authorDescriptionFieldKey());
    const std::string descriptionAlias = locale.localizedAuthorDescriptionField();
    if (descriptionAlias != locale.authorDescriptionFieldKey() && OESQLIdentifier::isPlain(descriptionAlias)) {
        description += NSString::format(", %@ as %@",
                                        ContentSQL::authorDescriptionExpression(loader_->sql(), locale, language),
                                        descriptionAlias);
    }
    return NSString::format("select images.*, %@ as %@, %@ from images,author where author.\"index\"=images.author",
                            ContentSQL::authorNameExpression(loader_->sql(), locale, language), alias, description);
}

void SQL_Search::addData(Value::Dictionary row, ContentRows& result) { result.push_back(std::move(row)); }

bool SQL_Search::contains(const Value::Dictionary& row, const std::string& column, const std::string& text) {
    // A byte search of UTF-8 finds exactly the character sequences a character search would.
    const Value* value = row.find(column);
    return value && !text.empty() && value->string().find(text) != std::string::npos;
}

std::function<bool(const Value::Dictionary&)> SQL_Search::searchPredicate(const std::string& text) const {
    return [column = field_, text](const Value::Dictionary& row) { return contains(row, column, text); };
}

std::optional<SQLCondition> SQL_Search::searchCondition(const std::string& text) const {
    const auto column = OESQLIdentifier::quoted(field_);
    if (!column) return std::nullopt;
    return SQLCondition{NSString::format("LOWER(%@) LIKE ? ESCAPE '\\'", *column),
                        {Value(ContentSQL::likeContainsPattern(NSString::lowercaseString(text)))}};
}

ContentRowList SQL_Search::result(const std::string& text) {
    // Nothing matches an empty text: answered without the database, so the search screens can
    // ask for it on the main thread.
    if (text.empty()) return std::make_shared<const ContentRows>();
    ContentRowList table;
    {
        // The search's connection is used only under this lock, from whichever queue searches
        // (a search queue, another screen's queue, the main thread), and handed back afterwards.
        // Held while loading, so two searches that start together load the table once.
        MutexLock guard(mutex_);
        const auto engine = loader_ ? loader_->sql() : nullptr;
        const std::string sql = tableRequest();
        if (sql != lastRequest_ || !requestResult_) {
            ContentRows rows;
            if (engine) {
                for (auto& row : engine->rowsForRequest(sql)) addData(std::move(row), rows);
            }
            requestResult_ = std::make_shared<const ContentRows>(std::move(rows));
            lastRequest_ = sql;
        }
        table = requestResult_;
        if (engine) engine->detachFromSequence();
    }
    const auto predicate = searchPredicate(text);
    ContentRows found;
    for (const auto& row : *table) {
        if (predicate(row)) found.push_back(row);
    }
    return std::make_shared<const ContentRows>(std::move(found));
}
