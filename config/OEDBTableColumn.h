// One column of a content table layout: its position in a result row and its name.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>
#include <string>

class OEDBTableColumn : public NSObject {
public:
    static std::shared_ptr<OEDBTableColumn> columnWithIndex(std::int32_t index, const std::string& key);
    static std::shared_ptr<OEDBTableColumn> initWithIndex(std::int32_t index, const std::string& key);

    std::int32_t index() const { return index_; }
    void setIndex(std::int32_t index) { index_ = index; }
    const std::string& key() const { return key_; }
    void setKey(const std::string& key) { key_ = key; }

    std::string description() const override;

private:
    std::int32_t index_ = 0;
    std::string key_;
};
