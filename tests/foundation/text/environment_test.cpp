#include "foundation/text/environment.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <set>
#include <thread>
#include <vector>

#include "foundation/text/collation.h"

namespace brn {
namespace {

const TBRNLocale* findLocale(const TBRNEnvironment& environment, int32_t id, size_t* index) {
  for (size_t i = 0; i < environment.Locales.size(); ++i) {
    if (environment.Locales[i].Id == id) {
      if (index != nullptr) *index = i;
      return &environment.Locales[i];
    }
  }
  return nullptr;
}

TEST(EnvironmentTest, LocaleListStartsWithBinaryAndKeepsEnumerationOrder) {
  TBRNEnvironment environment;
  ASSERT_EQ(environment.LocaleCount, int32_t(environment.Locales.size()));
  ASSERT_GT(environment.LocaleCount, 100);
  struct Entry {
    int32_t id;
    const char* name;
    const char* abbreviation;
  };
  const Entry first[] = {{0, "ANSI (Binary)", "ANSI"},
                         {1025, "Arabic (Saudi Arabia)", "ARA"},
                         {1026, "Bulgarian", "BGR"},
                         {1027, "Catalan", "CAT"}};
  for (size_t i = 0; i < std::size(first); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(environment.Locales[i].Id, first[i].id);
    EXPECT_EQ(environment.Locales[i].Name, first[i].name);
    EXPECT_EQ(environment.Locales[i].Abbreviation, first[i].abbreviation);
  }
  size_t german = 0;
  ASSERT_NE(findLocale(environment, 1031, &german), nullptr);
  const TBRNLocale& phoneBook = environment.Locales.at(german + 1);
  EXPECT_EQ(phoneBook.Id, 0x10407);
  EXPECT_EQ(phoneBook.Name, "German (German Phone Book)");
  EXPECT_EQ(phoneBook.Abbreviation, "DEP");
}

TEST(EnvironmentTest, AbbreviationsNameEachLocaleOnce) {
  TBRNEnvironment environment;
  struct Entry {
    int32_t id;
    const char* abbreviation;
  };
  const Entry entries[] = {{1068, "AZEL"}, {2092, "AZEC"}, {1091, "UZBL"},   {2115, "UZBC"},
                           {1033, "ENU"},  {1034, "ESP"},  {3082, "ESN"},    {1053, "SVE"},
                           {1055, "TRK"},  {1041, "JPN"},  {0x10407, "DEP"}, {0, "ANSI"}};
  for (const Entry& e : entries) EXPECT_EQ(environment.GetLocaleAbbreviation(e.id), e.abbreviation);
  EXPECT_EQ(environment.GetLocaleAbbreviation(0x7F3F), "");
  EXPECT_EQ(environment.GetLocaleAbbreviation(1033 | (1 << CaseInsensitiveBit)), "");
  // Collation names are looked up by abbreviation, so each must be unique.
  std::set<std::string> seen;
  for (const TBRNLocale& locale : environment.Locales)
    EXPECT_TRUE(seen.insert(UpperCaseBinary(locale.Abbreviation)).second) << locale.Abbreviation;
}

TEST(EnvironmentTest, EveryListedLocaleComparesThroughTheLocaleLayer) {
  TBRNEnvironment environment;
  for (const TBRNLocale& locale : environment.Locales) {
    SCOPED_TRACE(locale.Abbreviation);
    // 'b' against 'a' is decided by every alphabet, never by the fallback.
    EXPECT_EQ(CompareCollated(locale.Id, "b", "a"), 1);
    EXPECT_EQ(CompareCollated(locale.Id | (1 << CaseInsensitiveBit), "B", "b"), 0);
  }
}

// One environment serves every session thread: its locale list is read by
// all of them at once, and each thread's collators and converters must give
// the answers the first thread got, also for multi-byte pages and for texts
// too long for the stack.
TEST(EnvironmentTest, ThreadsShareTheLocaleList) {
  const TBRNEnvironment environment;
  const std::string longText(600, 'k');
  auto results = [&environment, &longText] {
    std::vector<std::string> out;
    for (const TBRNLocale& locale : environment.Locales) {
      std::string line = locale.Abbreviation;
      for (int32_t flags : {0, 1 << CaseInsensitiveBit, 3 << CaseInsensitiveBit}) {
        line += char('1' + CompareCollated(locale.Id | flags, "\xE4pfel", "Zebra"));
        line += char('1' + CompareCollated(locale.Id | flags, longText + "A", longText + "a"));
        line += char('1' + CompareCollated(locale.Id | flags, "\x83\x41", "\x82\xA0"));
      }
      line += UpperCaseCollated(locale.Id, "i\xE4\xFF") + LowerCaseCollated(locale.Id, "I\xC4");
      out.push_back(line);
    }
    return out;
  };
  const std::vector<std::string> expected = results();
  std::vector<std::vector<std::string>> seen(6);
  std::vector<std::thread> threads;
  for (auto& mine : seen)
    threads.emplace_back([&mine, &results] {
      for (int round = 0; round < 3; ++round) mine = results();
    });
  for (std::thread& thread : threads) thread.join();
  for (const auto& mine : seen) EXPECT_EQ(mine, expected);
}

TEST(EnvironmentTest, CollatorVersionIsRecorded) {
  TBRNEnvironment environment;
  const std::string& version = environment.GetCollatorVersion();
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
}

TEST(EnvironmentTest, ElapsedTicksSurviveTheCounterWrap) {
  TBRNEnvironment environment;
  struct Case {
    int32_t start, end, elapsed;
  };
  const Case cases[] = {
      {-296, 200, 496},                         // the 32-bit counter passing zero
      {INT32_MAX - 295, INT32_MIN + 200, 496},  // and passing the sign
      {1000, 1500, 500},
  };
  for (const Case& c : cases) EXPECT_EQ(environment.GetElapsedTicks(c.start, c.end), c.elapsed);
  int32_t start = environment.GetTickCount();
  SleepMilliseconds(20);
  int32_t elapsed = environment.GetElapsedTicks(start, environment.GetTickCount());
  EXPECT_GE(elapsed, 19);
  EXPECT_LT(elapsed, 5000);
}

TEST(EnvironmentTest, OSErrorMessages) {
  EXPECT_EQ(OSErrorMessage(2), "No such file or directory\r\n");
  EXPECT_EQ(OSErrorMessage(99999), "");
  EXPECT_EQ(OSErrorMessage(-1), "");
}

TEST(EnvironmentTest, SystemIdentity) {
  TBRNEnvironment environment;
  EXPECT_EQ(environment.GetProcessId(), uint32_t(getpid()));
  uint32_t mainThread = environment.GetThreadId();
  uint32_t otherThread = 0;
  std::thread([&] { otherThread = environment.GetThreadId(); }).join();
  EXPECT_NE(mainThread, otherThread);
  EXPECT_EQ(environment.GetThreadId(), mainThread);

  std::string computer = environment.GetComputerName();
  EXPECT_FALSE(computer.empty());
  EXPECT_LE(computer.size(), 15u);
  EXPECT_EQ(environment.GetTempPath().back(), '/');

  utsname name{};
  ASSERT_EQ(uname(&name), 0);
  int64_t version = environment.GetOSVersion();
  EXPECT_EQ(version / 10000, std::atoi(name.release));
  EXPECT_EQ(environment.GetOSPlatform(), 2);
  errno = 13;
  EXPECT_EQ(environment.GetLastOSError(), 13);
}

// The program's own file: an absolute path to the running executable.
TEST(EnvironmentTest, ModuleFileNameIsTheRunningProgram) {
  const std::string path = ModuleFileName();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(access(path.c_str(), X_OK), 0) << path;
  EXPECT_NE(path.find("foundation"), std::string::npos) << path;
}

}  // namespace
}  // namespace brn
