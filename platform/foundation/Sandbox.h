// The run's home folder and its standard subfolders: Documents, Library (Caches,
// Application Support, Preferences) and tmp.
#pragma once

#include <string>

class Sandbox {
public:
    // The home folder: set explicitly, else $APP_HOME, else a fresh temporary folder.
    static std::string home();
    // Points the sandbox at `path`, creating the standard folders.
    static void setHome(const std::string& path);
    // `path` as setHome takes it: against the working folder, with ".", ".." and doubled
    // slashes taken as written (not through links), and no trailing slash.
    static std::string absolutePath(const std::string& path);
    // A fresh temporary home (tests), created with the standard folders; returns its path.
    static std::string makeTemporaryHome();

    static std::string documents();
    static std::string library();
    static std::string caches();
    static std::string applicationSupport();
    static std::string preferences();
    static std::string tmp();
};
