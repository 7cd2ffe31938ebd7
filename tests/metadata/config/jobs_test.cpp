#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/number_text.h"
#include "foundation/types/literal_text.h"
#include "metadata/config_test_support.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"

namespace brn::testing {
namespace {

class JobTest : public ::testing::Test {
 protected:
  JobTest() {
    Bob = Root.AddUser("Bob");
    Job = Root.AddJob("Nightly", Bob);
    // Runs every day of every month of 2026 to 2028, all day long.
    Job->StartDate = DayOf(2026, 1, 1);
    Job->EndDate = DayOf(2028, 12, 31);
    Job->StartTime = 0;
    Job->EndTime = TimeOf(23, 59, 59);
    Job->Days.fill(true);
    Job->Months.fill(true);
  }

  ConfigRoot Root;
  TBRNUser* Bob = nullptr;
  TBRNJob* Job = nullptr;
};

struct DueCase {
  const char* Name;
  std::function<void(TBRNJob&)> Setup;
  int64_t LastRun;
  int64_t Now;
  bool Due;
};

TEST_F(JobTest, IsJobDueFollowsTheSchedule) {
  auto once = [](TBRNJob& j) { j.ScheduleType = jsOnce; };
  auto window = [](TBRNJob& j) {
    j.ScheduleType = jsOnce;
    j.StartTime = TimeOf(8, 0);
    j.EndTime = TimeOf(17, 0);
  };
  auto monthly31 = [](TBRNJob& j) {
    j.ScheduleType = jsMonthly;
    j.DayNumber = 31;
  };
  auto lastFriday = [](TBRNJob& j) {
    j.ScheduleType = jsMonthly;
    j.Ordinal = 5;
    j.Weekday = 5;
    j.Months.fill(false);
    j.Months[0] = j.Months[6] = true;  // January, July
  };
  auto every30Minutes = [](TBRNJob& j) {
    j.ScheduleType = jsEveryXMinutes;
    j.Interval = 30;
  };
  auto every2Hours = [](TBRNJob& j) {
    j.ScheduleType = jsEveryXHours;
    j.Interval = 2;
    j.StartTime = TimeOf(0, 15);
  };
  auto hourly = [](TBRNJob& j) {
    j.ScheduleType = jsHourly;
    j.StartTime = TimeOf(0, 15);
  };
  auto dailyMondays = [](TBRNJob& j) {
    j.ScheduleType = jsDaily;
    j.Days.fill(false);
    j.Days[0] = true;
  };
  auto every3Days = [](TBRNJob& j) {
    j.ScheduleType = jsEveryXDays;
    j.Interval = 3;
  };
  auto every2WeeksOnMonday = [](TBRNJob& j) {
    j.ScheduleType = jsEveryXWeeks;
    j.Interval = 2;
    j.Days.fill(false);
    j.Days[0] = true;
  };
  auto dateRange = [](TBRNJob& j) {
    j.ScheduleType = jsOnce;
    j.StartDate = DayOf(2026, 3, 1);
    j.EndDate = DayOf(2026, 3, 31);
  };

  const std::vector<DueCase> cases = {
      {"once never ran", once, 0, LocalTime(2026, 3, 10, 9, 0), true},
      {"once has run", once, LocalTime(2026, 3, 9, 9, 0), LocalTime(2026, 3, 10, 9, 0), false},
      {"window start", window, 0, LocalTime(2026, 3, 10, 8, 0), true},
      {"before window", window, 0, LocalTime(2026, 3, 10, 7, 59, 59), false},
      {"window end, seconds ignored", window, 0, LocalTime(2026, 3, 10, 17, 0, 30), true},
      {"after window", window, 0, LocalTime(2026, 3, 10, 17, 1), false},
      {"before start date", dateRange, 0, LocalTime(2026, 2, 28, 12, 0), false},
      {"on start date", dateRange, 0, LocalTime(2026, 3, 1, 0, 0), true},
      {"on end date", dateRange, 0, LocalTime(2026, 3, 31, 23, 0), true},
      {"after end date", dateRange, 0, LocalTime(2026, 4, 1, 0, 0), false},
      {"day 31 on 30 April", monthly31, 0, LocalTime(2026, 4, 30, 9, 0), true},
      {"day 31 not on 29 April", monthly31, 0, LocalTime(2026, 4, 29, 9, 0), false},
      {"day 31 on 28 February", monthly31, 0, LocalTime(2026, 2, 28, 9, 0), true},
      {"day 31 not on 28 February of a leap year", monthly31, 0, LocalTime(2028, 2, 28, 9, 0),
       false},
      {"day 31 on 29 February of a leap year", monthly31, 0, LocalTime(2028, 2, 29, 9, 0), true},
      {"day 31 on 31 May", monthly31, 0, LocalTime(2026, 5, 31, 9, 0), true},
      {"day 31 not on 30 May", monthly31, 0, LocalTime(2026, 5, 30, 9, 0), false},
      {"day 31 once on 30 April", monthly31, LocalTime(2026, 4, 30, 8, 0),
       LocalTime(2026, 4, 30, 9, 0), false},
      {"last Friday of July", lastFriday, 0, LocalTime(2026, 7, 31, 9, 0), true},
      {"a Friday of July that is not the last", lastFriday, 0, LocalTime(2026, 7, 24, 9, 0), false},
      {"the day before the last Friday", lastFriday, 0, LocalTime(2026, 7, 30, 9, 0), false},
      {"last Friday of January", lastFriday, 0, LocalTime(2026, 1, 30, 9, 0), true},
      {"last Friday of a month not chosen", lastFriday, 0, LocalTime(2026, 2, 27, 9, 0), false},
      {"30 minutes: 20 after midnight", every30Minutes, LocalTime(2026, 3, 10, 23, 50),
       LocalTime(2026, 3, 11, 0, 10), false},
      {"30 minutes: 30 after midnight", every30Minutes, LocalTime(2026, 3, 10, 23, 50),
       LocalTime(2026, 3, 11, 0, 20), true},
      {"30 minutes: same hour, early", every30Minutes, LocalTime(2026, 3, 10, 10, 5),
       LocalTime(2026, 3, 10, 10, 34), false},
      {"30 minutes: same hour, due", every30Minutes, LocalTime(2026, 3, 10, 10, 5),
       LocalTime(2026, 3, 10, 10, 35), true},
      {"30 minutes: last run later today", every30Minutes, LocalTime(2026, 3, 10, 12, 0),
       LocalTime(2026, 3, 10, 11, 0), false},
      {"2 hours across midnight", every2Hours, LocalTime(2026, 3, 10, 22, 15),
       LocalTime(2026, 3, 11, 0, 15), true},
      {"2 hours before the start minute", every2Hours, LocalTime(2026, 3, 10, 22, 15),
       LocalTime(2026, 3, 11, 1, 10), false},
      {"2 hours same day, early", every2Hours, LocalTime(2026, 3, 10, 9, 15),
       LocalTime(2026, 3, 10, 10, 20), false},
      {"hourly same hour", hourly, LocalTime(2026, 3, 10, 10, 20), LocalTime(2026, 3, 10, 10, 59),
       false},
      {"hourly before the start minute", hourly, LocalTime(2026, 3, 10, 10, 20),
       LocalTime(2026, 3, 10, 11, 14), false},
      {"hourly next hour", hourly, LocalTime(2026, 3, 10, 10, 20), LocalTime(2026, 3, 10, 11, 15),
       true},
      {"daily on its day", dailyMondays, LocalTime(2026, 3, 8, 9, 0), LocalTime(2026, 3, 9, 8, 0),
       true},
      {"daily ran today", dailyMondays, LocalTime(2026, 3, 9, 7, 0), LocalTime(2026, 3, 9, 8, 0),
       false},
      {"daily on another day", dailyMondays, 0, LocalTime(2026, 3, 10, 8, 0), false},
      {"every 3 days, after 2", every3Days, LocalTime(2026, 3, 10, 9, 0),
       LocalTime(2026, 3, 12, 9, 0), false},
      {"every 3 days, after 3", every3Days, LocalTime(2026, 3, 10, 9, 0),
       LocalTime(2026, 3, 13, 0, 0), true},
      {"every 2 weeks, after 1", every2WeeksOnMonday, LocalTime(2026, 3, 2, 9, 0),
       LocalTime(2026, 3, 9, 9, 0), false},
      {"every 2 weeks, after 2", every2WeeksOnMonday, LocalTime(2026, 3, 2, 9, 0),
       LocalTime(2026, 3, 16, 9, 0), true},
  };
  ASSERT_EQ(WeekdayOfDate(DayOf(2026, 7, 31)), 5);
  ASSERT_EQ(WeekdayOfDate(DayOf(2026, 3, 9)), 1);
  for (const DueCase& c : cases) {
    TBRNJob job(&Root);
    job.Assign(Job, false);
    c.Setup(job);
    job.LastRun = c.LastRun;
    EXPECT_EQ(IsJobDue(&job, c.Now), c.Due) << c.Name;
  }
}

TEST_F(JobTest, HostileScheduleValuesNeverOverflow) {
  Job->ScheduleType = jsEveryXMinutes;
  Job->Interval = 2147483647;
  Job->LastRun = LocalTime(2026, 3, 10, 9, 0);
  EXPECT_FALSE(IsJobDue(Job, LocalTime(2026, 3, 11, 9, 0)));
  Job->ScheduleType = jsEveryXWeeks;
  EXPECT_FALSE(IsJobDue(Job, LocalTime(2026, 3, 11, 9, 0)));
  Job->ScheduleType = 99;
  EXPECT_FALSE(IsJobDue(Job, LocalTime(2026, 3, 11, 9, 0)));
}

// A job whose user was dropped keeps no user: it is not runnable, never
// due, and does not fall back to the System user, neither now nor after a
// reload, nor when a new user of the old name appears.
TEST_F(JobTest, DroppedRunAsUserMakesTheJobNotRunnable) {
  const int64_t dueTime = LocalTime(2026, 3, 10, 9, 0);
  ASSERT_TRUE(IsJobDue(Job, dueTime));
  ASSERT_EQ(Job->GetRunAsUser(), Bob);

  Bob->NotifyDropped();
  EXPECT_NO_THROW(Bob->CheckNotReferenced("dropped"));
  TBRNConfigObject* detached = Root.Users->RemoveObject(Bob->Index);
  delete detached;
  Root.AdvanceChangeEpoch();

  EXPECT_EQ(Job->RunAsUserName, "");
  EXPECT_EQ(Job->GetRunAsUser(), nullptr);
  EXPECT_FALSE(Job->IsRunnable());
  EXPECT_FALSE(IsJobDue(Job, dueTime));
  Job->ResetLinks();
  EXPECT_FALSE(Job->IsRunnable());

  TBRNMemoryStream stream;
  Root.Jobs->SaveToStream(stream, false);
  ConfigRoot other;
  stream.SetPosition(0);
  other.Jobs->LoadFromStream(stream);
  ASSERT_EQ(other.Jobs->Count(), 1);
  EXPECT_EQ(other.Jobs->GetJob(0)->GetRunAsUser(), nullptr);
  EXPECT_FALSE(IsJobDue(other.Jobs->GetJob(0), dueTime));

  Root.AddUser("Bob");
  EXPECT_FALSE(IsJobDue(Job, dueTime));
}

TEST_F(JobTest, RunAsUserFollowsRenamesAndBlocksNothingElse) {
  TBRNUser* carol = Root.AddUser("Carol");
  Bob->NotifyRenamed("Robert");
  Bob->Name = "Robert";
  EXPECT_EQ(Job->RunAsUserName, "Robert");
  EXPECT_EQ(Job->GetRunAsUser(), Bob);
  EXPECT_TRUE(Root.GetRootModified());

  Bob->BuildReferrers();
  ASSERT_TRUE(Bob->HasReferrers());
  EXPECT_EQ(Bob->GetReferrers()->GetItem(0), Job);
  carol->BuildReferrers();
  EXPECT_FALSE(carol->HasReferrers());

  // A name that finds no user gives no user either.
  Job->RunAsUserName = "Ghost";
  Job->ResetLinks();
  EXPECT_EQ(Job->GetRunAsUser(), nullptr);
  Job->SetRunAsUser(carol);
  EXPECT_EQ(Job->GetRunAsUser(), carol);
  EXPECT_TRUE(Job->IsRunnable());
  Job->NotRunnable = true;
  EXPECT_FALSE(IsJobDue(Job, LocalTime(2026, 3, 10, 9, 0)));
  Job->ResetLinks();
  EXPECT_TRUE(Job->IsRunnable());
}

// A hand-written record of a 2.03 configuration: no Attributes, Version nor
// FormatVersion; a daily job without days.
RecordBuilder Job203Record() {
  RecordBuilder record;
  record.Int(7).Str("Old").Str("Old job").Bool(false).Bool(false);
  record.Str("Bob").Str("Ops").Int(jsDaily);
  record.Int(DayOf(2026, 1, 1)).Int(DayOf(2026, 12, 31)).Int(TimeOf(1, 0)).Int(TimeOf(2, 0));
  record.Int(0);
  for (int i = 0; i < 7; ++i) record.Bool(false);
  record.Int(0).Int(0).Int(0);
  for (int i = 0; i < 12; ++i) record.Bool(i == 2);
  record.Str("BEGIN END");
  int64_t lastRun = LocalTime(2026, 3, 1, 1, 30);
  record.Int(int32_t(uint32_t(uint64_t(lastRun)))).Int(int32_t(uint32_t(uint64_t(lastRun) >> 32)));
  record.Int(4);
  return record;
}

TEST(JobRecordTest, OlderVersionReadsOnlyItsFields) {
  ConfigRoot root(kFormatVersion203);
  TBRNMemoryStream stream;
  Job203Record().Into(stream);
  TBRNJob job(&root);
  job.LoadFromStream(stream);
  EXPECT_EQ(stream.GetPosition(), stream.GetSize());
  EXPECT_EQ(job.ID, 7);
  EXPECT_EQ(job.Name, "Old");
  EXPECT_EQ(job.Version, 10000);
  EXPECT_EQ(job.FormatVersion, kFormatVersion203);
  EXPECT_EQ(job.RunAsUserName, "Bob");
  EXPECT_EQ(job.Category, "Ops");
  EXPECT_EQ(job.Body->SQL, "BEGIN END");
  EXPECT_EQ(job.LastRun, LocalTime(2026, 3, 1, 1, 30));
  EXPECT_EQ(job.LockNumber, 4);
  EXPECT_TRUE(job.GetMonth(3));
  EXPECT_FALSE(job.GetMonth(4));
  // A daily job of an older engine without days runs on every day.
  EXPECT_EQ(job.GetDaysText(), "Mon, Tue, Wed, Thu, Fri, Sat, Sun");

  // Written again at 2.03 it is the same record, days aside.
  job.Days.fill(false);
  TBRNMemoryStream written;
  job.SaveToStream(written, false);
  EXPECT_EQ(StreamBytes(written), Job203Record().Bytes());
}

TEST_F(JobTest, RecordRoundTripsEveryField) {
  Job->Description = "Cleans up";
  Job->Attributes = "a=1";
  Job->Version = 12500;
  Job->Category = "Ops";
  Job->ScheduleType = jsMonthly;
  Job->Ordinal = 5;
  Job->Weekday = 5;
  Job->Interval = 3;
  Job->DayNumber = 12;
  Job->Days.fill(false);
  Job->Days[2] = true;
  Job->Months.fill(false);
  Job->Months[11] = true;
  Job->Body->SetText("BEGIN CALL X(); END");
  Job->LastRun = LocalTime(2026, 5, 6, 7, 8, 9);
  Job->FormatVersion = kFormatVersion204;
  Job->Enabled = false;

  TBRNMemoryStream stream;
  Root.Jobs->SaveToStream(stream, false);
  ConfigRoot other;
  stream.SetPosition(0);
  other.Jobs->LoadFromStream(stream);
  EXPECT_EQ(stream.GetPosition(), stream.GetSize());
  ASSERT_EQ(other.Jobs->Count(), 1);
  TBRNJob* copy = other.Jobs->GetJob(0);
  EXPECT_TRUE(copy->IsEqual(Job, true));
  EXPECT_EQ(copy->Attributes, "a=1");
  EXPECT_EQ(copy->Version, 12500);
  EXPECT_EQ(copy->FormatVersion, kFormatVersion204);
  EXPECT_EQ(copy->GetDaysText(), "Wed");
  EXPECT_EQ(copy->GetMonthsText(), "Dec");
  EXPECT_EQ(copy->GetOrdinalText(), "Last Fri");
  EXPECT_EQ(copy->LockNumber, Job->LockNumber);
  EXPECT_TRUE(copy->Enabled);  // not stored: a loaded job is enabled
}

TEST_F(JobTest, HostileRecordsRaiseTheMetadataError) {
  Job->Body->SetText("BEGIN END");
  TBRNMemoryStream stream;
  Job->SaveToStream(stream, false);
  std::vector<uint8_t> record = StreamBytes(stream);
  EXPECT_GT(ExpectEveryCutRefused(record, [&] { return std::make_unique<TBRNJob>(&Root); }), 100);
  ExpectEveryByteFlipHandled(record, [&] { return std::make_unique<TBRNJob>(&Root); });

  // The lock number is the record's last int32.
  for (int32_t lockNumber : {-1, 2147483647, 524288}) {
    std::vector<uint8_t> bad = record;
    for (int i = 0; i < 4; ++i)
      bad[bad.size() - 4 + size_t(i)] = uint8_t(uint32_t(lockNumber) >> (8 * i));
    TBRNMemoryStream badStream;
    badStream.Write(bad.data(), int32_t(bad.size()));
    badStream.SetPosition(0);
    TBRNJob job(&Root);
    EXPECT_EQ(CaughtError([&] { job.LoadFromStream(badStream); }).ErrorCode, 100) << lockNumber;
  }

  // A body length far beyond the record.
  RecordBuilder huge = Job203Record();
  std::vector<uint8_t> bytes = huge.Bytes();
  ConfigRoot old(kFormatVersion203);
  size_t bodyLength = bytes.size() - 4 - 8 - 9 - 4;  // before "BEGIN END"
  bytes[bodyLength + 3] = 0x7F;
  TBRNMemoryStream hugeStream;
  hugeStream.Write(bytes.data(), int32_t(bytes.size()));
  hugeStream.SetPosition(0);
  TBRNJob job(&old);
  EXPECT_EQ(CaughtError([&] { job.LoadFromStream(hugeStream); }).ErrorCode, 100);
}

TEST_F(JobTest, CreateTextIsGolden) {
  Job->ScheduleType = jsMonthly;
  Job->Ordinal = 5;
  Job->Weekday = 5;
  Job->Months.fill(false);
  Job->Months[0] = Job->Months[6] = true;
  Job->StartDate = DayOf(2026, 1, 1);
  Job->EndDate = DayOf(2026, 12, 31);
  Job->StartTime = TimeOf(8, 0);
  Job->EndTime = TimeOf(17, 30, 15);
  Job->Category = "Ops's";
  Job->Body->SetText("JOB \"Nightly\"\r\nBEGIN\r\n  CALL Cleanup();\r\nEND\r\n  \t");
  Job->Description = "Monthly cleanup  ";
  Job->Attributes = "a=1";
  EXPECT_EQ(Job->GetCreateSQL(false, false),
            "CREATE JOB \"Nightly\"\r\n"
            "RUN AS \"Bob\"\r\n"
            "FROM DATE '2026-01-01' TO DATE '2026-12-31'\r\n"
            "MONTHLY ON LAST FRI OF JAN, JUL\r\n"
            "BETWEEN TIME '08:00' AND TIME '17:30:15'\r\n"
            "CATEGORY 'Ops''s'\r\n"
            "BEGIN\r\n  CALL Cleanup();\r\nEND\r\n"
            "DESCRIPTION 'Monthly cleanup'\r\n"
            "VERSION 1.00\r\n"
            "ATTRIBUTES 'a=1'");
  EXPECT_EQ(Job->GetDropSQL(false, false), "DROP JOB \"Nightly\"");

  // No category, description nor attributes; a body without BEGIN is kept
  // whole.
  Job->Category.clear();
  Job->Description.clear();
  Job->Attributes.clear();
  Job->Body->SetText("CALL Cleanup()");
  Job->ScheduleType = jsOnce;
  EXPECT_EQ(Job->GetCreateSQL(false, false),
            "CREATE JOB \"Nightly\"\r\n"
            "RUN AS \"Bob\"\r\n"
            "FROM DATE '2026-01-01' TO DATE '2026-12-31'\r\n"
            "ONCE\r\n"
            "BETWEEN TIME '08:00' AND TIME '17:30:15'\r\n"
            "CALL Cleanup()\r\n"
            "VERSION 1.00");
}

TEST_F(JobTest, ScheduleClauseAndVersionOfEveryKind) {
  struct ClauseCase {
    int32_t Type;
    const char* Clause;
  };
  const std::vector<ClauseCase> cases = {
      {jsOnce, "ONCE"},
      {jsDaily, "DAILY ON MON, WED"},
      {jsWeekly, "WEEKLY ON MON, WED"},
      {jsMonthly, "MONTHLY ON DAY 31 OF FEB"},
      {jsEveryXDays, "EVERY 3 DAYS"},
      {jsEveryXWeeks, "EVERY 3 WEEKS ON MON, WED"},
      {jsHourly, "HOURLY ON MON, WED"},
      {jsEveryXHours, "EVERY 3 HOURS ON MON, WED"},
      {jsEveryXMinutes, "EVERY 3 MINUTES ON MON, WED"},
  };
  Job->Days.fill(false);
  Job->SetDay(1, true);
  Job->SetDay(3, true);
  Job->Months.fill(false);
  Job->SetMonth(2, true);
  Job->DayNumber = 31;
  Job->Interval = 3;
  for (const ClauseCase& c : cases) {
    Job->ScheduleType = c.Type;
    std::string text = Job->GetCreateSQL(false, false);
    EXPECT_NE(text.find("\r\n" + std::string(c.Clause) + "\r\nBETWEEN"), std::string::npos)
        << JobTypeName(c.Type) << ": " << text;
  }
  EXPECT_EQ(JobTypeName(jsEveryXMinutes), "Every X Minutes");
  EXPECT_EQ(JobTypeName(9), "");

  const std::vector<std::pair<int64_t, const char*>> versions = {
      {10000, "1.00"}, {12345, "1.23"}, {12350, "1.24"}, {25000, "2.50"}, {0, "0.00"}};
  for (const auto& [version, text] : versions) {
    Job->Version = version;
    EXPECT_NE(Job->GetCreateSQL(false, false).find(std::string("\r\nVERSION ") + text),
              std::string::npos)
        << version;
  }
}

// A session's statement text, parsed by the SQL language processor.
class JobStatement : public TBRNCompiledExpr {
 public:
  explicit JobStatement(const std::string& text) {
    SQL = text;
    SQLLength = int32_t(SQL.size());
  }
  std::string GetKindName() const override { return "statement"; }
};

struct FreeTree {
  void operator()(TBRNExprToken* node) const { FreeExprTree(node); }
};

std::unique_ptr<TBRNExprToken, FreeTree> ParseJobStatement(const std::string& text) {
  JobStatement owner(text);
  TBRNExprParser parser;
  parser.BeginParse(owner);
  return std::unique_ptr<TBRNExprToken, FreeTree>(parser.ParseStatement(pcQueries));
}

// Sets job from a parsed CREATE JOB statement as running the statement does:
// an absent day list gives every day to the kinds that have days, an absent
// clause leaves its field cleared.
void ApplyJobStatement(const TBRNExprToken* statement, TBRNJob& job) {
  const auto arg = [statement](int32_t index) -> const TBRNExprToken* {
    return index < statement->ArgumentCount() ? statement->Argument(index) : nullptr;
  };
  const auto text = [&arg](int32_t index) {
    return arg(index) != nullptr ? arg(index)->Text : std::string();
  };
  const auto flags = [](const TBRNExprToken* list, auto& target) {
    for (size_t i = 0; i < target.size(); ++i)
      target[i] = list == nullptr || list->Argument(int32_t(i)) != nullptr;
  };
  job.Name = arg(0)->Name;
  job.RunAsUserName = arg(1)->Name;
  EXPECT_TRUE(ParseDateLiteral(text(2), job.StartDate)) << text(2);
  EXPECT_TRUE(ParseDateLiteral(text(3), job.EndDate)) << text(3);
  job.ScheduleType = arg(4)->Variant;
  job.Interval = arg(5) != nullptr ? StringToInteger(text(5)) : 0;
  job.Days.fill(false);
  job.Months.fill(false);
  switch (job.ScheduleType) {
    case jsDaily:
    case jsWeekly:
    case jsEveryXWeeks:
    case jsHourly:
    case jsEveryXHours:
    case jsEveryXMinutes:
      flags(arg(6), job.Days);
      break;
    case jsMonthly:
      if (const TBRNExprToken* weekday = arg(8)) {
        job.Ordinal = StringToInteger(weekday->Text);
        job.Weekday = StringToInteger(weekday->Argument(0)->Text);
      } else {
        job.DayNumber = StringToInteger(text(7));
      }
      flags(arg(9), job.Months);
      break;
    default:
      break;
  }
  EXPECT_TRUE(ParseTimeLiteral(text(10), job.StartTime)) << text(10);
  EXPECT_TRUE(ParseTimeLiteral(text(11), job.EndTime)) << text(11);
  job.Category = text(12);
  job.Description = text(13);
  job.Version = arg(14) != nullptr ? StringToCurrency(text(14)) : 10000;
  job.Attributes = text(15);
  job.Body->SetText(statement->Text);
}

TEST_F(JobTest, CreateTextOfEveryScheduleParsesBackIntoTheSameJob) {
  struct RoundTripCase {
    const char* Name;
    std::function<void(TBRNJob&)> Setup;
    // A kind whose days may be left out: without days the statement gives
    // every day, as reading such a job's record does.
    bool EveryDay = false;
  };
  const auto days = [](std::vector<int32_t> numbers) {
    return [numbers = std::move(numbers)](TBRNJob& j) {
      for (int32_t day : numbers) j.SetDay(day, true);
    };
  };
  const auto kind = [](int32_t type, std::function<void(TBRNJob&)> more = nullptr) {
    return [type, more](TBRNJob& j) {
      j.ScheduleType = type;
      if (more) more(j);
    };
  };
  const auto every = [&kind](int32_t type, int32_t interval,
                             std::function<void(TBRNJob&)> more = nullptr) {
    return kind(type, [interval, more](TBRNJob& j) {
      j.Interval = interval;
      if (more) more(j);
    });
  };
  const auto everyOptionalClause = [](TBRNJob& j) {
    j.Category = "Ops's";
    j.Description = "Runs \"once\"";
    j.Attributes = "a=1";
    j.Version = 12300;
    j.StartTime = TimeOf(8, 5, 30);
    j.EndTime = TimeOf(23, 59, 59);
  };
  const auto day31OfFebruaryAndDecember = [](TBRNJob& j) {
    j.DayNumber = 31;
    j.SetMonth(2, true);
    j.SetMonth(12, true);
  };
  const auto lastFridayOfJanuaryAndJuly = [](TBRNJob& j) {
    j.Ordinal = 5;
    j.Weekday = 5;
    j.SetMonth(1, true);
    j.SetMonth(7, true);
  };
  const auto firstSundayOfEveryMonth = [](TBRNJob& j) {
    j.Ordinal = 1;
    j.Weekday = 7;
    j.Months.fill(true);
  };
  const std::vector<RoundTripCase> cases = {
      {"once", kind(jsOnce)},
      {"once with every optional clause", kind(jsOnce, everyOptionalClause)},
      {"daily on days", kind(jsDaily, days({1, 3, 7}))},
      {"daily without days", kind(jsDaily), true},
      {"weekly", kind(jsWeekly, days({5}))},
      {"monthly on a day", kind(jsMonthly, day31OfFebruaryAndDecember)},
      {"monthly on the last Friday", kind(jsMonthly, lastFridayOfJanuaryAndJuly)},
      {"monthly on the first Sunday", kind(jsMonthly, firstSundayOfEveryMonth)},
      {"every 3 days", every(jsEveryXDays, 3)},
      {"every 2 weeks", every(jsEveryXWeeks, 2, days({1, 2, 3, 4, 5, 6, 7}))},
      {"hourly on days", kind(jsHourly, days({6, 7}))},
      {"hourly without days", kind(jsHourly), true},
      {"every 4 hours on days", every(jsEveryXHours, 4, days({2}))},
      {"every 4 hours without days", every(jsEveryXHours, 4), true},
      {"every 15 minutes on days", every(jsEveryXMinutes, 15, days({1, 5}))},
      {"every 15 minutes without days", every(jsEveryXMinutes, 15), true},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBRNJob original(&Root);
    original.Name = "Nightly";
    original.RunAsUserName = "Bob";
    original.StartDate = DayOf(2026, 3, 1);
    original.EndDate = DayOf(2027, 2, 28);
    original.StartTime = TimeOf(0, 15);
    original.EndTime = TimeOf(17, 30);
    original.Body->SetText("JOB \"Nightly\"\r\nBEGIN\r\n  CALL Cleanup();\r\nEND");
    c.Setup(original);
    const std::string text = original.GetCreateSQL(false, false);

    std::unique_ptr<TBRNExprToken, FreeTree> tree;
    try {
      tree = ParseJobStatement(text);
    } catch (const EBRNException& error) {
      ADD_FAILURE() << error.ErrorMessage << "\n" << text;
      continue;
    }
    ASSERT_NE(tree, nullptr);
    TBRNJob parsed(&Root);
    ApplyJobStatement(tree.get(), parsed);

    if (c.EveryDay) original.Days.fill(true);
    EXPECT_TRUE(original.IsEqual(&parsed, false)) << text << "\n---- parsed back as\n"
                                                  << parsed.GetCreateSQL(false, false);
    EXPECT_EQ(parsed.Days, original.Days) << text;
  }
}

TEST_F(JobTest, MonthlyDayNumberIsValidated) {
  Job->ScheduleType = jsMonthly;
  for (int32_t day : {0, 32, -5}) {
    Job->DayNumber = day;
    EBRNException error = CaughtError([&] { Job->Validate(); });
    EXPECT_EQ(error.ErrorCode, 100);
    EXPECT_NE(error.ErrorMessage.find("Day number for month must be between 1 and 31"),
              std::string::npos)
        << error.ErrorMessage;
  }
  Job->DayNumber = 31;
  EXPECT_NO_THROW(Job->Validate());
  Job->DayNumber = 0;
  Job->Ordinal = 2;  // an ordinal job needs no day number
  EXPECT_NO_THROW(Job->Validate());
}

TEST_F(JobTest, ChangesMarkModifiedAndStampTheFormatVersion) {
  Root.Modified = false;
  Job->SetCategory("");
  Job->SetDay(1, true);  // unchanged values change nothing
  EXPECT_FALSE(Root.GetRootModified());

  Root.Version = kFormatVersion205;
  Job->FormatVersion = kFormatVersion203;
  Job->SetInterval(5);
  EXPECT_TRUE(Root.GetRootModified());
  EXPECT_EQ(Job->FormatVersion, kFormatVersion205);

  Root.Modified = false;
  Job->Body->SetText("BEGIN END");
  EXPECT_TRUE(Root.GetRootModified());

  EXPECT_THROW(Job->SetDay(8, true), std::out_of_range);
  EXPECT_THROW(Job->SetMonth(0, true), std::out_of_range);
}

TEST_F(JobTest, LockRangeAndCollection) {
  Job->LockNumber = 3;
  EXPECT_EQ(Job->GetLockOffset(ltShared), 3 * 4096 + 16785410);
  EXPECT_EQ(Job->GetLockOffset(ltExclusive), 3 * 4096 + 16785410);
  EXPECT_EQ(Job->GetLockLength(ltExclusive), 4096);
  EXPECT_EQ(Job->GetLockLength(ltRead), 0);
  EXPECT_EQ(Root.Jobs->GetMaxCount(), 4096);
  EXPECT_EQ(Root.Jobs->GetSystemTableName(), "Jobs");
  EBRNException error = CaughtError([&] { Root.AddJob("nightly", Bob); });
  EXPECT_EQ(error.ErrorCode, 400);
}

}  // namespace
}  // namespace brn::testing
