// What a data source's search object answers: the rows that match a typed text.
#pragma once

#include "platform/foundation/Value.h"

#include <memory>
#include <string>
#include <vector>

using ContentRows = std::vector<Value::Dictionary>;
// A shared, unchanging list of rows; empty pointer stands for "none".
using ContentRowList = std::shared_ptr<const ContentRows>;

class OESearch {
public:
    virtual ~OESearch() = default;
    virtual ContentRowList result(const std::string& text) = 0;
};
