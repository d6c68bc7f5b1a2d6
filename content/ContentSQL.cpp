// Pieces of the catalogue's SQL: the picture-row select with its author columns for every
// supported language, and the escaping of LIKE patterns for bound search text.
#include "content/ContentSQL.h"

#include "content/SQLiteEngine.h"
#include "config/OELocalizations.h"
#include "config/OESQLIdentifier.h"
#include "platform/foundation/NSString.h"

#include <set>

namespace {

// The expression for base column `key` in language `language` over the author table.
std::string languageExpression(const std::set<std::string>& columns, const OELocalizations& locale,
                               const std::string& key, const std::string& language) {
    const auto& config = *locale.config();
    const std::string column = locale.formatLocalizedField(key, language);
    const std::string fallback = locale.formatLocalizedField(key, config.defaultLanguage());
    const bool hasColumn = columns.count(column) && OESQLIdentifier::isPlain(column);
    const bool hasFallback = columns.count(fallback) && OESQLIdentifier::isPlain(fallback);
    const bool fallsBack = column != fallback && !config.exceptions().count(language);
    if (hasColumn && hasFallback && fallsBack) {
        return NSString::format("coalesce(nullif(author.\"%@\", ''), author.\"%@\")", column, fallback);
    }
    if (hasColumn) return NSString::format("author.\"%@\"", column);
    if (hasFallback && fallsBack) return NSString::format("author.\"%@\"", fallback);
    return "''";
}

void appendAliases(std::string& out, const std::set<std::string>& columns, const OELocalizations& locale,
                   const std::string& key, const std::string& aliasKey) {
    // The base column under the base alias, then each other language under its own alias.
    out += NSString::format(", %@ as %@", languageExpression(columns, locale, key, "ru"), aliasKey);
    for (const auto& language : locale.config()->supportedLanguages()) {
        const std::string alias = locale.formatLocalizedField(aliasKey, language);
        if (alias == aliasKey || !OESQLIdentifier::isPlain(alias)) continue;
        out += NSString::format(", %@ as %@", languageExpression(columns, locale, key, language), alias);
    }
}

}  // namespace

namespace ContentSQL {

std::string authorColumns(const std::shared_ptr<SQLiteEngine>& engine, const OELocalizations& locale) {
    const auto columns = engine ? engine->columnsOfTable("author") : std::set<std::string>();
    std::string out;
    appendAliases(out, columns, locale, "name", locale.authorNameFieldKey());
    appendAliases(out, columns, locale, "description", locale.authorDescriptionFieldKey());
    return out;
}

std::string pictureSelect(const std::shared_ptr<SQLiteEngine>& engine, const OELocalizations& locale,
                          const std::string& condition, const std::string& tail) {
    std::string sql = "select images.*" + authorColumns(engine, locale) + " from images,author where ";
    if (!condition.empty()) sql += condition + " and ";
    sql += "author.\"index\"=images.author" + tail;
    return sql;
}

std::string authorNameExpression(const std::shared_ptr<SQLiteEngine>& engine, const OELocalizations& locale,
                                 const std::string& language) {
    const auto columns = engine ? engine->columnsOfTable("author") : std::set<std::string>();
    return languageExpression(columns, locale, "name", language);
}

std::string authorDescriptionExpression(const std::shared_ptr<SQLiteEngine>& engine, const OELocalizations& locale,
                                        const std::string& language) {
    const auto columns = engine ? engine->columnsOfTable("author") : std::set<std::string>();
    return languageExpression(columns, locale, locale.descriptionFieldKey(), language);
}

std::string authorOrderColumn(const std::shared_ptr<SQLiteEngine>& engine, const OELocalizations& locale,
                              const std::string& language) {
    const auto columns = engine ? engine->columnsOfTable("author") : std::set<std::string>();
    const std::string wanted = locale.formatLocalizedField(locale.nameFieldKey(), language);
    if (columns.count(wanted) && OESQLIdentifier::isPlain(wanted)) return wanted;
    const std::string fallback = locale.formatLocalizedField(locale.nameFieldKey(), locale.config()->defaultLanguage());
    if (columns.count(fallback) && OESQLIdentifier::isPlain(fallback)) return fallback;
    return "name";
}

std::string likeContainsPattern(std::string_view text) {
    std::string out = "%";
    for (char c : text) {
        if (c == '\\' || c == '%' || c == '_') out += '\\';
        out += c;
    }
    out += '%';
    return out;
}

}  // namespace ContentSQL
