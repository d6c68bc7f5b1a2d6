// Helpers of the measurement tests: a main bundle of the test's own in the temporary home, put
// back afterwards, and settings kept in memory.
#pragma once

#include "tests/analytics/core/MemoryConfigStore.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

// A bundle folder made the main bundle for the life of the object.
class TestBundle {
public:
    explicit TestBundle(const std::string& name = "Measurement.app")
        : previous_(NSBundle::mainBundle()->bundlePath()), path_(Sandbox::tmp() + "/" + name) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
        NSBundle::setMainBundlePath(path_);
    }
    ~TestBundle() {
        NSBundle::setMainBundlePath(previous_);
        NSBundle::resetCaches();
        std::filesystem::remove_all(path_);
    }
    const std::string& path() const { return path_; }
    // Writes `name` (e.g. "Info.plist") into `folder` (the bundle when empty).
    void writePlist(const std::string& name, const Value& contents, const std::string& folder = "") const {
        const std::string target = folder.empty() ? path_ : folder;
        std::filesystem::create_directories(target);
        ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(contents, target + "/" + name,
                                                                   NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
        NSBundle::resetCaches();
    }

private:
    std::string previous_;
    std::string path_;
};

