// Names a content database: its file name (in Documents and in the bundle) and a display name.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <string>

class dbEntry : public NSObject {
public:
    static std::shared_ptr<dbEntry> initWithPath(const std::string& path, const std::string& name);
    // The images database of the current configuration, under its default display name.
    static std::shared_ptr<dbEntry> defaultEntry();
    // The articles database of the current configuration, named "Articles".
    static std::shared_ptr<dbEntry> articlesEntry();

    const std::string& dbPath() const { return dbPath_; }
    void setDbPath(const std::string& path) { dbPath_ = path; }
    const std::string& dbName() const { return dbName_; }
    void setDbName(const std::string& name) { dbName_ = name; }

    std::string description() const override;

private:
    std::string dbPath_;
    std::string dbName_;
};
