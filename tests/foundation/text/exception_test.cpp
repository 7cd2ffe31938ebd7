#include "foundation/text/exception.h"

#include <gtest/gtest.h>

#include "foundation/text/string_helpers.h"

namespace brn {
namespace {

TEST(EBRNExceptionTest, DisplayTextCarriesTheCodeOnlyForEngineCodes) {
  struct Case {
    int32_t code;
    const char* display;
  } cases[] = {
      {0, "x"},
      {1, "Brindle Error #1 x"},
      {9999, "Brindle Error #9999 x"},
      {10000, "x"},
      {-5, "x"},
  };
  for (const auto& c : cases) {
    EBRNException e(c.code, "x");
    EXPECT_STREQ(e.what(), c.display) << c.code;
    EXPECT_EQ(e.ErrorMessage, "x");
    EXPECT_EQ(e.ErrorCode, c.code);
  }
}

TEST(EBRNExceptionTest, EmptyMessageKeepsTheTrailingBlankOfThePattern) {
  EBRNException e(101, "");
  EXPECT_STREQ(e.what(), "Brindle Error #101 ");
}

TEST(EBRNExceptionTest, PositionIsStoredOnlyWhenGiven) {
  EBRNException plain(700, "m");
  EXPECT_EQ(plain.ErrorLine, 0);
  EXPECT_EQ(plain.ErrorColumn, 0);
  EBRNException at(700, "m", 3, 14);
  EXPECT_EQ(at.ErrorLine, 3);
  EXPECT_EQ(at.ErrorColumn, 14);
  EXPECT_STREQ(at.what(), "Brindle Error #700 m");
}

TEST(EBRNExceptionTest, MessageThatLooksLikeAPatternIsNotExpanded) {
  EBRNException e(5, "100% %s done");
  EXPECT_EQ(e.ErrorMessage, "100% %s done");
  EXPECT_STREQ(e.what(), "Brindle Error #5 100% %s done");
}

TEST(EBRNAbortExceptionTest, RaiseCarriesTheMessage) {
  try {
    RaiseAbortException("Invalid backup file");
    FAIL();
  } catch (const EBRNAbortException& e) {
    EXPECT_STREQ(e.what(), "Invalid backup file");
  }
}

}  // namespace
}  // namespace brn
