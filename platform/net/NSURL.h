// URLs: absolute http(s) and file URLs parsed into their parts with libcurl's URL parser.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <optional>
#include <string>

class NSURL : public NSObject {
public:
    // Empty unless `string` is an absolute URL made only of characters legal in a URL (no
    // spaces, no characters beyond ASCII: encode them first).
    [[nodiscard]] static std::shared_ptr<NSURL> URLWithString(const std::string& string);
    // "file://" and the path, percent-encoded where needed.
    [[nodiscard]] static std::shared_ptr<NSURL> fileURLWithPath(const std::string& path);

    // The string as given.
    const std::string& absoluteString() const { return string_; }
    // Lower case.
    const std::string& scheme() const { return scheme_; }
    const std::string& host() const { return host_; }
    std::optional<int> port() const { return port_; }
    // Percent-decoded; "" when the URL has none.
    const std::string& path() const { return path_; }
    // As written, without "?" and "#"; "" when absent.
    const std::string& query() const { return query_; }
    const std::string& fragment() const { return fragment_; }
    bool isFileURL() const { return scheme_ == "file"; }

    std::string description() const override { return string_; }
    bool isEqual(const NSObject* other) const override;
    std::size_t hash() const override;

private:
    std::string string_;
    std::string scheme_;
    std::string host_;
    std::optional<int> port_;
    std::string path_;
    std::string query_;
    std::string fragment_;
};
