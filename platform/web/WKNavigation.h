// One load of a web view, from its start to its finish or failure: the token the navigation
// delegate's calls carry, so that a delegate can tell loads apart.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>
#include <string>

class WKNavigation : public NSObject {
public:
    explicit WKNavigation(std::uint64_t number, std::string url) : number_(number), url_(std::move(url)) {}

    // Counts the web view's loads from 1.
    std::uint64_t number() const { return number_; }
    // The address being loaded.
    const std::string& url() const { return url_; }

private:
    std::uint64_t number_;
    std::string url_;
};
