// A category record of the picture catalogue: its row number and display name.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>
#include <string>

class SQLiteEngine;

class dataCat : public NSObject {
public:
    dataCat() = default;

    static std::shared_ptr<dataCat> make() { return std::make_shared<dataCat>(); }
    static std::shared_ptr<dataCat> emptyCat();
    // Column 0 as the index and column 1 as the name of the engine's current row, as stored.
    static std::shared_ptr<dataCat> dataCatFromDB(const std::shared_ptr<SQLiteEngine>& engine);
    static std::shared_ptr<dataCat> dataCatWithName(const std::string& name);

    // -1 for a record that stands for no row.
    std::int32_t index() const { return index_; }
    void setIndex(std::int32_t index) { index_ = index; }
    const std::string& name() const { return name_; }

    std::string description() const override;

protected:
    std::int32_t index_ = -1;
    std::string name_;
};
