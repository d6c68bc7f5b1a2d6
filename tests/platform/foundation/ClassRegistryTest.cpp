// Classes looked up by name: absent until registered, made by their factories.
#include "platform/foundation/ClassRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

class FakeTrackingManager : public NSObject {
public:
    int status = 3;
};

}  // namespace

TEST(ClassRegistry, ClassesAreAbsentUntilRegistered) {
    EXPECT_FALSE(ClassRegistry::isRegistered("ATTrackingManager"));
    EXPECT_FALSE(ClassRegistry::lookup("ATTrackingManager"));
    EXPECT_EQ(ClassRegistry::create("ATTrackingManager"), nullptr);
}

TEST(ClassRegistry, FactoriesMakeInstancesOrHandOutASharedOne) {
    ClassRegistry::registerClass("ATTrackingManager", [] { return std::make_shared<FakeTrackingManager>(); });
    const auto first = ClassRegistry::create("ATTrackingManager");
    const auto second = ClassRegistry::create("ATTrackingManager");
    ASSERT_TRUE(isKindOf<FakeTrackingManager>(first));
    EXPECT_NE(first, second);

    const auto shared = std::make_shared<FakeTrackingManager>();
    ClassRegistry::registerClass("ASIdentifierManager", [shared] { return shared; });
    EXPECT_EQ(ClassRegistry::create("ASIdentifierManager"), shared);
    EXPECT_EQ(ClassRegistry::registeredNames(), (std::vector<std::string>{"ASIdentifierManager", "ATTrackingManager"}));

    ClassRegistry::unregisterClass("ATTrackingManager");
    ClassRegistry::unregisterClass("ASIdentifierManager");
    EXPECT_EQ(ClassRegistry::create("ATTrackingManager"), nullptr);
    EXPECT_TRUE(ClassRegistry::registeredNames().empty());
}

TEST(ClassRegistry, FactoriesMayLookUpOtherClasses) {
    ClassRegistry::registerClass("Inner", [] { return std::make_shared<NSObject>(); });
    ClassRegistry::registerClass("Outer", [] { return ClassRegistry::create("Inner"); });
    EXPECT_NE(ClassRegistry::create("Outer"), nullptr);
    ClassRegistry::unregisterClass("Inner");
    ClassRegistry::unregisterClass("Outer");
}

TEST(ClassRegistry, RegistrationAndLookupFromManyThreads) {
    std::atomic<int> made{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &made] {
            const std::string name = "Class" + std::to_string(t % 2);
            for (int i = 0; i < 500; ++i) {
                ClassRegistry::registerClass(name, [&made] {
                    ++made;
                    return std::make_shared<NSObject>();
                });
                if (ClassRegistry::create(name)) continue;
                ClassRegistry::unregisterClass(name);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_GT(made.load(), 0);
    EXPECT_TRUE(ClassRegistry::isRegistered("Class0"));
    EXPECT_TRUE(ClassRegistry::isRegistered("Class1"));
    ClassRegistry::unregisterClass("Class0");
    ClassRegistry::unregisterClass("Class1");
}
