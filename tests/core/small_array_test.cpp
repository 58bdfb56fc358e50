#include "core/small_array.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "core/math/quaternion.h"

namespace KX {
namespace {

// Follows a std::vector through the same steps, across the move from inside to the heap.
TEST(SmallArray, GrowsAndShrinksLikeAVector) {
  static_assert(sizeof(CSmallArray<float>) == 16);
  static_assert(CSmallArray<float>::kInlineCapacity == 3);
  static_assert(CSmallArray<CQuaternion>::kInlineCapacity == 0);
  static_assert(CSmallArray<CQuaternion, std::allocator<CQuaternion>, 16>::kInlineCapacity == 1);
  CSmallArray<int32_t> array;
  std::vector<int32_t> expected;
  for (int32_t i = 0; i < 40; ++i) {
    array.push_back(i);
    expected.push_back(i);
    ASSERT_EQ(array, expected) << i;
  }
  array.resize(3);
  expected.resize(3);
  EXPECT_EQ(array, expected);
  array.resize(6, 7);
  expected.resize(6, 7);
  EXPECT_EQ(array, expected);
  array.resize(9);  // new elements are zero, even where the heap block held others before
  expected.resize(9);
  EXPECT_EQ(array, expected);
  array.pop_back();
  array.push_back(array.front());  // an element of the array itself
  expected.pop_back();
  expected.push_back(expected.front());
  EXPECT_EQ(array, expected);
  array.assign(2, 5);
  EXPECT_EQ(array, (std::vector<int32_t>{5, 5}));
  EXPECT_THROW(array.at(2), std::out_of_range);
  array.clear();
  EXPECT_TRUE(array.empty());
}

TEST(SmallArray, CopiesAndMovesInsideAndOnTheHeap) {
  for (size_t n : {size_t{1}, size_t{3}, size_t{4}, size_t{64}}) {
    CSmallArray<float> source;
    for (size_t i = 0; i < n; ++i) source.push_back(static_cast<float>(i) + 0.5f);
    const std::vector<float> expected(source.begin(), source.end());

    CSmallArray<float> copy(source);
    EXPECT_EQ(copy, expected);
    copy[0] = -1.0f;  // the copy has elements of its own
    EXPECT_EQ(source, expected);

    CSmallArray<float> moved(std::move(source));
    EXPECT_EQ(moved, expected);
    EXPECT_TRUE(source.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty
    source = {9.0f};              // and usable again
    EXPECT_EQ(source, (std::vector<float>{9.0f}));

    CSmallArray<float> target{1, 2, 3, 4, 5, 6, 7, 8};
    target = std::move(moved);
    EXPECT_EQ(target, expected);
    const CSmallArray<float>& self = target;
    target = self;  // keeps the elements
    EXPECT_EQ(target, expected);
    target.assign(target.begin() + 1, target.end());  // a range of its own
    EXPECT_EQ(target, std::vector<float>(expected.begin() + 1, expected.end()));
  }
}

// The heap block's address sits wherever the array does: in a record, after a 32-bit field, it
// is not on an 8-byte boundary.
TEST(SmallArray, KeepsItsHeapBlockAtAnyPlaceInARecord) {
  struct Record {
    uint32_t tag = 0;
    CSmallArray<float> values;
  };
  static_assert(offsetof(Record, values) == 4 && sizeof(Record) == 20);
  std::vector<Record> records(3);
  for (size_t i = 0; i < records.size(); ++i)
    for (size_t k = 0; k <= 10 * i; ++k) records[i].values.push_back(static_cast<float>(k));
  std::vector<Record> moved = std::move(records);
  for (size_t i = 0; i < moved.size(); ++i) {
    ASSERT_EQ(moved[i].values.size(), 10 * i + 1);
    EXPECT_EQ(moved[i].values.back(), static_cast<float>(10 * i));
    EXPECT_GE(moved[i].values.capacity(), moved[i].values.size());
  }
}

}  // namespace
}  // namespace KX
