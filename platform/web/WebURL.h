// Link addresses as a browser reads them: the scheme of an address, and a reference made
// absolute against the page's address (RFC 3986, section 5), with the characters no URL may
// hold percent-encoded.
#pragma once

#include <string>
#include <string_view>

namespace WebURL {

// The scheme in lower case ("http", "mailto"); "" for a relative reference.
std::string scheme(std::string_view url);

// `reference` resolved against `base`. Blanks around the reference and tabs and line breaks
// inside it are dropped, as browsers do. A reference with a scheme stands alone; without a base
// that has a scheme, a relative reference stays as it is.
std::string resolve(std::string_view base, std::string_view reference);

// The address without its fragment ("#...").
std::string withoutFragment(std::string_view url);

}  // namespace WebURL
