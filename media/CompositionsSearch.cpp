// Track and category searches with the text bound as a parameter.
#include "media/CompositionsSearch.h"

#include "config/OESQLIdentifier.h"
#include "content/SQLiteEngine.h"
#include "media/MediaPlayerItem.h"
#include "platform/foundation/NSStringFormat.h"

namespace {

// "%text%" for LIKE with "\" escaping the text's own wildcards.
std::string likePattern(const std::string& text) {
    std::string pattern = "%";
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern + "%";
}

}  // namespace

std::shared_ptr<DB_CompositionSearch> DB_CompositionSearch::initWithSql(std::shared_ptr<SQLiteEngine> sql,
                                                                        const std::string& table,
                                                                        std::shared_ptr<const MediaContext> context) {
    return std::shared_ptr<DB_CompositionSearch>(new DB_CompositionSearch(std::move(sql), table, std::move(context)));
}

std::string DB_CompositionSearch::nameColumn(const std::string& table, const std::string& field) {
    const auto& locale = context_->localizations();
    const std::string wanted = locale.localizedField(field);
    const auto columns = sql_->columnsOfTable(table);
    if (columns.count(wanted)) return wanted;
    const std::string fallback = locale.formatLocalizedField(field, locale.config()->defaultLanguage());
    return columns.count(fallback) ? fallback : field;
}

MediaItems DB_CompositionSearch::handleSearch(const std::string& text) {
    MediaItems result;
    if (!sql_) return result;
    const auto& locale = context_->localizations();
    const std::string n = nameColumn("compositions", "name");
    const std::string authorName = nameColumn("author", "name");
    const std::string a = locale.localizedAuthorField();
    const std::string condition =
        NSString::format("(compositions.%@ like ? escape '\\' or %@ like ? escape '\\')", n, a);
    const std::string column = NSString::format("author.%@ as %@", authorName, a);
    const std::string statement = NSString::format(
        "select compositions.*, %@ from compositions left join author on compositions.author=author.\"index\" where %@",
        column, condition);
    const std::string pattern = likePattern(text);
    if (!sql_->prepareRequest(statement, {Value(pattern), Value(pattern)})) return result;
    while (sql_->nextRow()) result.push_back(MediaPlayerItem::mediaPlayerItemWithDictionary(sql_->dataFromRow(), context_));
    sql_->endRequest();
    return result;
}

CompositionCats DB_CompositionSearch::handleSearchCat(const std::string& text) {
    CompositionCats result;
    if (!sql_ || !OESQLIdentifier::isPlain(table_)) return result;
    const std::string& t = table_;
    const std::string reference = NSString::format("%@.%@", t, nameColumn(t, "name"));
    const std::string statement = NSString::format(
        "select %@.*, count(compositions.\"index\") as compositions_count from %@ left join compositions on "
        "%@.\"index\" = compositions.%@ where compositions.%@ is not null and %@ like ? escape '\\' group by "
        "compositions.%@",
        t, t, t, t, t, reference, t);
    if (!sql_->prepareRequest(statement, {Value(likePattern(text))})) return result;
    while (sql_->nextRow()) result.push_back(CompositionCat::catWithDictioanry(sql_->dataFromRow(), context_));
    sql_->endRequest();
    return result;
}
