// The painter of an article's picture.
#pragma once

#include <string>

class RawAuthor {
public:
    virtual ~RawAuthor() = default;
    // In the current language.
    virtual std::string name() const = 0;
};
