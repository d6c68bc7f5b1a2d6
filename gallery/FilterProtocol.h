// The filter screen's answer to the screen that opened it: the values ticked when Done was tapped.
#pragma once

#include <string>
#include <vector>

class FilterProtocol {
public:
    virtual ~FilterProtocol() = default;
    virtual void filterSelectedItems(const std::vector<std::string>& values) = 0;
};
