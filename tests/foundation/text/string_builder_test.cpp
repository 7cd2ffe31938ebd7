#include "foundation/text/string_builder.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace brn {
namespace {

TEST(StringBuilderTest, CapacityGrowsGeometricallyAndLengthZeroReleasesTheBuffer) {
  TBRNStringBuilder builder;
  for (int i = 0; i < 100; ++i) builder.AppendChar(char('a' + i % 26));
  EXPECT_EQ(builder.GetLength(), 100);
  EXPECT_EQ(builder.GetCapacity(), 128);

  // A jump takes the length rounded to 32; one more character doubles.
  builder.SetLength(2040);
  EXPECT_EQ(builder.GetCapacity(), 2048);
  builder.SetLength(2049);
  EXPECT_EQ(builder.GetCapacity(), 4096);
  builder.SetLength(10);
  EXPECT_EQ(builder.GetCapacity(), 4096);

  builder.SetLength(0);
  EXPECT_EQ(builder.GetCapacity(), 0);
  EXPECT_EQ(builder.GetText(), "");
}

// Appending one character at a time reallocates only when the capacity
// doubles: about log2(n) times for n characters, never every few dozen.
TEST(StringBuilderTest, AppendingReallocatesLogarithmicallyOften) {
  TBRNStringBuilder builder;
  int reallocations = 0;
  int32_t capacity = builder.GetCapacity();
  for (int i = 0; i < 1 << 20; ++i) {
    builder.AppendChar('x');
    if (builder.GetCapacity() != capacity) {
      ++reallocations;
      capacity = builder.GetCapacity();
    }
  }
  EXPECT_EQ(builder.GetLength(), 1 << 20);
  EXPECT_EQ(reallocations, 16);  // 32, 64, ..., 2^20
}

TEST(StringBuilderTest, GrowingFillsWithZeros) {
  TBRNStringBuilder builder("ab");
  builder.SetLength(1);
  builder.SetLength(4);
  EXPECT_EQ(builder.GetText(), std::string("a\0\0\0", 4));
}

TEST(StringBuilderTest, EditsMoveTheRestOfTheText) {
  TBRNStringBuilder builder("world");
  builder.Insert(0, "hello ");
  builder.Append("!");
  builder.InsertChar(5, ',');
  EXPECT_EQ(builder.GetText(), "hello, world!");
  builder.Delete(5, 1);
  builder.Delete(0, 0);
  builder.Delete(11, 1);
  EXPECT_EQ(builder.GetText(), "hello world");
  builder.SetChar(0, 'H');
  EXPECT_EQ(builder.GetChar(0), 'H');
  builder.Insert(builder.GetLength(), "");
  EXPECT_EQ(builder.GetText(), "Hello world");
}

TEST(StringBuilderTest, TextOfTheBuilderItselfCanBeAppendedAndInserted) {
  TBRNStringBuilder builder(std::string(31, 'x'));
  builder.Append(builder.View());  // grows past the first capacity
  EXPECT_EQ(builder.GetText(), std::string(62, 'x'));
  builder.Insert(1, builder.View().substr(0, 40));
  EXPECT_EQ(builder.GetText(), std::string(102, 'x'));
}

TEST(StringBuilderTest, RangesOutsideTheTextAreRefused) {
  TBRNStringBuilder builder("abc");
  EXPECT_THROW(builder.Delete(2, 2), std::out_of_range);
  EXPECT_THROW(builder.Insert(4, "x"), std::out_of_range);
  EXPECT_THROW(builder.SetLength(-1), std::invalid_argument);
  EXPECT_EQ(builder.GetText(), "abc");
}

}  // namespace
}  // namespace brn
