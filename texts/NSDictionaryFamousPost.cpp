// The fields of a famous-paintings post.
#include "texts/NSDictionaryFamousPost.h"

#include "content/OELikesResponseParser.h"

namespace {

std::string languageField(const Value& post, const OELocalizations& locale, const char* field) {
    if (!post.isDictionary()) return "";
    const Value& languages = post["lng"];
    if (!languages.isDictionary()) return "";
    const Value& entry = languages[locale.languageStr()];
    if (!entry.isDictionary()) return "";
    const Value& value = entry[field];
    return value.isString() ? value.string() : "";
}

std::int64_t number(const Value& post, const char* field) {
    if (!post.isDictionary()) return 0;
    return OELikesResponseParser::integerOf(post[field]).value_or(0);
}

}  // namespace

namespace NSDictionaryFamousPost {

std::string postTitle(const Value& post, const OELocalizations& locale) { return languageField(post, locale, "title"); }
std::string postURL(const Value& post, const OELocalizations& locale) { return languageField(post, locale, "url"); }
std::int64_t textId(const Value& post) { return number(post, "text_id"); }
std::int64_t pictureId(const Value& post) { return number(post, "picture_id"); }

}  // namespace NSDictionaryFamousPost
