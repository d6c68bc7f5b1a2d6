// A category record of the picture catalogue: its row number and display name.
#include "content/dataCat.h"

#include "content/SQLiteEngine.h"
#include "platform/foundation/NSString.h"

std::shared_ptr<dataCat> dataCat::emptyCat() { return make(); }

std::shared_ptr<dataCat> dataCat::dataCatFromDB(const std::shared_ptr<SQLiteEngine>& engine) {
    auto cat = make();
    if (!engine) return cat;
    cat->index_ = engine->getInt(0);
    cat->name_ = engine->getString(1).value_or("");
    return cat;
}

std::shared_ptr<dataCat> dataCat::dataCatWithName(const std::string& name) {
    auto cat = make();
    cat->name_ = name;
    return cat;
}

std::string dataCat::description() const { return NSString::format("<%@: %d %@>", className(), index_, name_); }
