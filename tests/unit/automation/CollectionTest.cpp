#include <gtest/gtest.h>

#include <cstdint>

#include "platform/automation/Collection.h"
#include "platform/automation/RuntimeError.h"
#include "tests/support/RuntimeErrors.h"

namespace qa = quenvar::automation;
namespace en = quenvar::automation::error_number;
using qa::Variant;
using quenvar::testing::errorNumberOf;

namespace {

qa::Collection collectionOf(std::initializer_list<const char*> texts) {
    qa::Collection collection;
    for (const char* text : texts) collection.add(Variant::fromText(text));
    return collection;
}

TEST(Collection, StartsEmpty) {
    qa::Collection collection;
    EXPECT_EQ(collection.count(), 0);
    EXPECT_EQ(errorNumberOf([&] { collection.item(1); }), en::SubscriptOutOfRange);
    EXPECT_EQ(errorNumberOf([&] { collection.remove(1); }), en::SubscriptOutOfRange);
}

TEST(Collection, AddsAtTheEndAndCountsFromOne) {
    const qa::Collection collection = collectionOf({"\x06", "\x62", "x"});
    ASSERT_EQ(collection.count(), 3);
    EXPECT_EQ(collection.item(1), Variant::fromText("\x06"));
    EXPECT_EQ(collection.item(2), Variant::fromText("\x62"));
    EXPECT_EQ(collection.item(3), Variant::fromText("x"));
}

TEST(Collection, KeepsEachValueAsItsOwnType) {
    qa::Collection collection;
    collection.add(Variant::fromInt16(7));
    collection.add(Variant::fromBool(true));
    collection.add(Variant());
    EXPECT_EQ(collection.item(1), Variant::fromInt16(7));
    EXPECT_EQ(collection.item(2), Variant::fromBool(true));
    EXPECT_TRUE(collection.item(3).isEmpty());
}

TEST(Collection, RemoveClosesTheGap) {
    qa::Collection fromFront = collectionOf({"a", "b", "c"});
    fromFront.remove(1);
    ASSERT_EQ(fromFront.count(), 2);
    EXPECT_EQ(fromFront.item(1), Variant::fromText("b"));
    EXPECT_EQ(fromFront.item(2), Variant::fromText("c"));

    qa::Collection fromMiddle = collectionOf({"a", "b", "c"});
    fromMiddle.remove(2);
    EXPECT_EQ(fromMiddle.item(1), Variant::fromText("a"));
    EXPECT_EQ(fromMiddle.item(2), Variant::fromText("c"));

    qa::Collection fromEnd = collectionOf({"a", "b", "c"});
    fromEnd.remove(3);
    ASSERT_EQ(fromEnd.count(), 2);
    EXPECT_EQ(fromEnd.item(2), Variant::fromText("b"));
}

TEST(Collection, TakingTwoFromTheFrontEmptiesAQueueInOrder) {
    qa::Collection queue = collectionOf({"\x06", "\x62", "\x06", "\x63"});
    std::string sent;
    while (queue.count() > 0) {
        sent += queue.item(1).toText();
        queue.remove(1);
    }
    EXPECT_EQ(sent, "\x06\x62\x06\x63");
}

struct BadPosition {
    std::int32_t count;
    std::int32_t position;
};

class CollectionBadPosition : public testing::TestWithParam<BadPosition> {};

TEST_P(CollectionBadPosition, RaisesSubscriptOutOfRangeAndChangesNothing) {
    const auto [count, position] = GetParam();
    qa::Collection collection;
    for (std::int32_t i = 1; i <= count; ++i) collection.add(Variant::fromInt32(i));
    EXPECT_EQ(errorNumberOf([&] { collection.item(position); }), en::SubscriptOutOfRange);
    EXPECT_EQ(errorNumberOf([&] { collection.remove(position); }), en::SubscriptOutOfRange);
    ASSERT_EQ(collection.count(), count);
    for (std::int32_t i = 1; i <= count; ++i) EXPECT_EQ(collection.item(i), Variant::fromInt32(i));
}

INSTANTIATE_TEST_SUITE_P(OutsideOneToCount, CollectionBadPosition,
                         testing::Values(BadPosition{0, 0}, BadPosition{0, 1}, BadPosition{0, -1}, BadPosition{3, 0},
                                         BadPosition{3, 4}, BadPosition{3, -1}, BadPosition{3, INT32_MIN},
                                         BadPosition{3, INT32_MAX}));

}  // namespace
