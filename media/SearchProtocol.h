// What a content screen of the pad's player takes from the player's search field.
#pragma once

#include <string>

class SearchProtocol {
public:
    virtual ~SearchProtocol() = default;
    virtual void handleSearch(const std::string& text) = 0;
    virtual void cancelSearch() = 0;
};
