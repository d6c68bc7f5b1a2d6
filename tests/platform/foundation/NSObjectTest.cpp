// NSObject: class names, default description, identity equality and associated slots.
#include "platform/foundation/NSObject.h"

#include "platform/foundation/Value.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

class NSObjectTestWidget : public NSObject {};

namespace {

const char kColourKey = 0;
const char kSizeKey = 0;

// Clears its owner's slot from its destructor, as an observer removing itself would.
class SlotClearer : public NSObject {
public:
    explicit SlotClearer(NSObject* owner) : owner(owner) {}
    ~SlotClearer() override { owner->setAssociatedValue(&kSizeKey, Value()); }
    NSObject* owner;
};

TEST(NSObjectIdentity, ClassNameAndDescription) {
    auto widget = std::make_shared<NSObjectTestWidget>();
    EXPECT_EQ(widget->className(), "NSObjectTestWidget");
    EXPECT_EQ(std::make_shared<NSObject>()->className(), "NSObject");
    EXPECT_TRUE(std::regex_match(widget->description(), std::regex("<NSObjectTestWidget: 0x[0-9a-f]+>")))
        << widget->description();
}

TEST(NSObjectIdentity, EqualityAndHashAreIdentity) {
    auto a = std::make_shared<NSObjectTestWidget>(), b = std::make_shared<NSObjectTestWidget>();
    EXPECT_TRUE(a->isEqual(a.get()));
    EXPECT_FALSE(a->isEqual(b.get()));
    EXPECT_FALSE(a->isEqual(nullptr));
    EXPECT_EQ(a->hash(), a->hash());
    EXPECT_NE(Value(a), Value(b));
    EXPECT_TRUE(isKindOf<NSObjectTestWidget>(a));
    EXPECT_FALSE(isKindOf<NSObjectTestWidget>(std::make_shared<NSObject>()));
}

TEST(NSObjectSlots, ValuesPerKeyAndObject) {
    auto a = std::make_shared<NSObject>(), b = std::make_shared<NSObject>();
    EXPECT_TRUE(a->associatedValue(&kColourKey).isNull());
    a->setAssociatedValue(&kColourKey, "red");
    a->setAssociatedValue(&kSizeKey, 12);
    b->setAssociatedValue(&kColourKey, "blue");
    EXPECT_EQ(a->associatedValue(&kColourKey).string(), "red");
    EXPECT_EQ(a->associatedValue(&kSizeKey).integerValue(), 12);
    EXPECT_EQ(b->associatedValue(&kColourKey).string(), "blue");
    a->setAssociatedValue(&kColourKey, Value());  // null removes
    EXPECT_TRUE(a->associatedValue(&kColourKey).isNull());
    EXPECT_EQ(a->associatedValue(&kSizeKey).integerValue(), 12);
}

TEST(NSObjectSlots, ReplacedValueMayTouchTheSlotsFromItsDestructor) {
    auto owner = std::make_shared<NSObject>();
    owner->setAssociatedValue(&kColourKey, std::make_shared<SlotClearer>(owner.get()));
    owner->setAssociatedValue(&kSizeKey, 5);
    owner->setAssociatedValue(&kColourKey, "plain");  // destroys the clearer: no deadlock
    EXPECT_TRUE(owner->associatedValue(&kSizeKey).isNull());
    EXPECT_EQ(owner->associatedValue(&kColourKey).string(), "plain");
}

TEST(NSObjectSlots, ConcurrentWritersOnOneObject) {
    auto object = std::make_shared<NSObject>();
    static char keys[8];
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) object->setAssociatedValue(&keys[t], i);
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(object->associatedValue(&keys[t]).integerValue(), 1999);
}

}  // namespace
