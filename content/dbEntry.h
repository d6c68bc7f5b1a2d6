// Names a content database: its file name (in Documents and in the bundle) and a display name.
#pragma once

#include "config/OEDBConfig.h"

#include <memory>
#include <string>

class dbEntry : public NSObject {
public:
    static std::shared_ptr<dbEntry> initWithPath(const std::string& path, const std::string& name);
    // The images database of the database configuration, under its default display name.
    static std::shared_ptr<dbEntry> defaultEntry(const std::shared_ptr<OEDBConfig>& database);
    // The articles database of the database configuration, named "Articles".
    static std::shared_ptr<dbEntry> articlesEntry(const std::shared_ptr<OEDBConfig>& database);

    const std::string& dbPath() const { return dbPath_; }
    void setDbPath(const std::string& path) { dbPath_ = path; }
    const std::string& dbName() const { return dbName_; }
    void setDbName(const std::string& name) { dbName_ = name; }

    std::string description() const override;

private:
    std::string dbPath_;
    std::string dbName_;
};
