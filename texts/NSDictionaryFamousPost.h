// Reading a famous-paintings post: its title and page for the current language, its identifier
// and its picture. Every field is checked for its type; what is missing or of another type reads
// as "" or 0.
#pragma once

#include "config/OELocalizations.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <string>

namespace NSDictionaryFamousPost {

// The "title" and "url" of the post's "lng" entry for the locale's language; "" without one.
std::string postTitle(const Value& post, const OELocalizations& locale);
std::string postURL(const Value& post, const OELocalizations& locale);
// "text_id" and "picture_id" as whole numbers (numbers or numeric texts).
std::int64_t textId(const Value& post);
std::int64_t pictureId(const Value& post);

}  // namespace NSDictionaryFamousPost
