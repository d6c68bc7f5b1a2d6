// Texts of the likes client: the short display text of a like count, and the strict
// percent-encoding of URL values.
#pragma once

#include <string>

namespace NSStringLikes {

// "" for 0 and below, " 999" up to 999, then " 1k", " 1.5k", " 999.9k", " 1kk", " 2.3kk",
// " 1kkk": one "k" per thousand, the first decimal truncated and left out when 0.
std::string likesStringForLikesNumber(long number);
// UTF-8 percent-encoding that leaves only letters, digits and "-._~" as they are.
std::string percentEncode(const std::string& text);

}  // namespace NSStringLikes
