#include "foundation/text/string_builder.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace brn {
namespace {

TEST(StringBuilderTest, CapacityGrowsInStepsAndLengthZeroReleasesTheBuffer) {
  TBRNStringBuilder builder;
  for (int i = 0; i < 100; ++i) builder.AppendChar(char('a' + i % 26));
  EXPECT_EQ(builder.GetLength(), 100);
  EXPECT_EQ(builder.GetCapacity(), 128);

  // Beyond 1024 characters the step becomes a 32nd of the length.
  builder.SetLength(2048);
  EXPECT_EQ(builder.GetCapacity(), 2048);
  builder.SetLength(2049);
  EXPECT_EQ(builder.GetCapacity(), 2048 + 64);
  builder.SetLength(10);
  EXPECT_EQ(builder.GetCapacity(), 2048 + 64);

  builder.SetLength(0);
  EXPECT_EQ(builder.GetCapacity(), 0);
  EXPECT_EQ(builder.GetText(), "");
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
