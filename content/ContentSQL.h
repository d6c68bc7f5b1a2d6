// Pieces of the catalogue's SQL: the picture-row select with its author columns for every
// supported language, and the escaping of LIKE patterns for bound search text.
#pragma once

#include <memory>
#include <string>
#include <string_view>

class OELocalizations;
class SQLiteEngine;

namespace ContentSQL {

// The select list after "images.*": author."name" as author_name, one author_name_<xx> per
// supported language, author."description" as author_description and one
// author_description_<xx> per language. A language column that is empty falls back to the
// default language's column (except for the exception languages, as in the localisation
// rules); a column the author table lacks is replaced by the fall-back, so a missing language
// never fails the whole statement.
std::string authorColumns(const std::shared_ptr<SQLiteEngine>& engine, const OELocalizations& locale);
// "select images.*,<authorColumns> from images,author where <condition> and
// author."index"=images.author" (the condition left out when empty), then `tail`.
std::string pictureSelect(const std::shared_ptr<SQLiteEngine>& engine, const OELocalizations& locale,
                          const std::string& condition, const std::string& tail = " order by author.\"name\"");
// The expression giving the author's name column of one language (its fall-back included),
// as in authorColumns.
std::string authorNameExpression(const std::shared_ptr<SQLiteEngine>& engine, const OELocalizations& locale,
                                 const std::string& language);
// The same for the author's description in one language.
std::string authorDescriptionExpression(const std::shared_ptr<SQLiteEngine>& engine, const OELocalizations& locale,
                                        const std::string& language);
// An existing author column for ordering by a language's name: that language's, else the
// default language's, else the base column.
std::string authorOrderColumn(const std::shared_ptr<SQLiteEngine>& engine, const OELocalizations& locale,
                              const std::string& language);

// "%<text>%" with "\", "%" and "_" escaped by "\" (for "LIKE ? ESCAPE '\'").
std::string likeContainsPattern(std::string_view text);

}  // namespace ContentSQL
