// What a web view asks its navigation delegate about before it follows an address: the address
// and what started the navigation.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <string>

enum class WKNavigationType : long {
    LinkActivated = 0,
    FormSubmitted = 1,
    BackForward = 2,
    Reload = 3,
    FormResubmitted = 4,
    Other = -1,
};

enum class WKNavigationActionPolicy : long {
    Cancel = 0,
    Allow = 1,
};

class WKNavigationAction : public NSObject {
public:
    WKNavigationAction(WKNavigationType type, std::string url) : type_(type), url_(std::move(url)) {}

    WKNavigationType navigationType() const { return type_; }
    // The request's address, absolute (the link resolved against the page's address).
    const std::string& requestURL() const { return url_; }

private:
    WKNavigationType type_;
    std::string url_;
};
