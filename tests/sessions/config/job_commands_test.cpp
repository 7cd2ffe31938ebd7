// The configuration commands on jobs, and the preparation and run of a job.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/locks/log_manager.h"
#include "foundation/types/date_time.h"
#include "metadata/config/config.h"
#include "metadata/config/jobs.h"
#include "sessions/config/config_command_test_support.h"
#include "sessions/local/config_lock_manager.h"
#include "sessions/local/config_manager.h"
#include "sessions/local/evaluator_factory.h"
#include "sessions/local/local_log_manager.h"

namespace brn::testing {
namespace {

// Runs nothing: counts the bodies it is given, and raises when told to.
class RecordingEvaluator : public TBRNSessionStubEvaluator {
 public:
  void ExecuteRoutine(TBRNExprToken*) override {
    ++Runs;
    if (Fail) throw EBRNException(9001, "The body failed");
  }
  int Runs = 0;
  bool Fail = false;
};

std::vector<TBRNLogEvent> ReadLog(TBRNLocalSessionManager& session) {
  std::vector<TBRNLogEvent> events;
  session.LogManager->BeginRead();
  TBRNLogEvent event;
  for (bool more = session.LogManager->ReadFirstEvent(event); more;
       more = session.LogManager->ReadNextEvent(event))
    events.push_back(event);
  session.LogManager->EndRead();
  return events;
}

struct JobCommandTest : ConfigCommandTest {
  void SetUp() override {
    ConfigCommandTest::SetUp();
    auto evaluator = std::make_unique<RecordingEvaluator>();
    Evaluator = evaluator.get();
    Session->Evaluator = std::move(evaluator);
  }
  // A job that runs once, any day and time, as the Administrator.
  void AddJob(const std::string& name) {
    TBRNJob* job = Session->BeginCreateJob(name);
    job->SetDescription("Cleans up");
    job->SetRunAsUser(Config().AdministratorUser);
    job->SetScheduleType(jsOnce);
    job->SetStartDate(0);
    job->SetEndDate(99999999);
    job->SetStartTime(0);
    job->SetEndTime(86399999);
    job->Body->SetText("JOB \"" + name + "\" BEGIN END");
    Session->EndCreateJob(job);
  }
  TBRNJob* Job(const std::string& name) {
    return static_cast<TBRNJob*>(Config().Jobs->FindByName(name, false));
  }
  // Events written since the log held skip of them.
  std::vector<TBRNLogEvent> EventsAfter(size_t skip) {
    std::vector<TBRNLogEvent> events = ReadLog(*Session);
    return std::vector<TBRNLogEvent>(events.begin() + std::ptrdiff_t(skip), events.end());
  }

  RecordingEvaluator* Evaluator = nullptr;
};

TEST_F(JobCommandTest, NewJobsTakeTheLowestFreeLockNumbers) {
  AddJob("First");
  AddJob("Second");
  EXPECT_EQ(Job("First")->LockNumber, 1);
  EXPECT_EQ(Job("Second")->LockNumber, 2);
  Session->RenameJob("First", "Renamed");
  Session->DropJob("Renamed");
  AddJob("Third");
  EXPECT_EQ(Job("Third")->LockNumber, 1);
}

TEST_F(JobCommandTest, EnableOnAnEngineThatIsNoServerChangesNothing) {
  AddJob("Nightly");
  Session->Engine->DisableJob("Nightly");
  Session->InvalidateJobsTable();
  EXPECT_TRUE(Session->IsJobEnabledByName("Nightly"));
  Session->Engine->EnableJob("Nightly");
  EXPECT_FALSE(Session->Engine->IsJobEnabled("Nightly"));

  // The session's own switches (what a server's scheduler session runs).
  Session->DisableJobByName("nightly");
  EXPECT_FALSE(Session->IsJobEnabledByName("Nightly"));
  Session->EnableAllJobsInSession();
  EXPECT_TRUE(Session->IsJobEnabledByName("Nightly"));
  EXPECT_FALSE(Session->IsJobEnabledByName("Nobody"));
  EXPECT_EQ(ErrorCodeOf([&] { Session->EnableJobByName("Nobody"); }), 401);
}

TEST_F(JobCommandTest, ExecuteStampsTheLastRunAndResetMakesAOnceJobDueAgain) {
  AddJob("Nightly");
  EXPECT_TRUE(IsJobDue(Job("Nightly")));
  const size_t logged = ReadLog(*Session).size();
  TBRNJob* job = Session->PrepareJob("Nightly");
  ASSERT_NE(job, nullptr);
  const int64_t before = CurrentTimestamp(false);
  Session->ExecuteJob(job);
  EXPECT_EQ(Evaluator->Runs, 1);
  EXPECT_GE(Job("Nightly")->LastRun, before);
  EXPECT_FALSE(IsJobDue(Job("Nightly")));
  std::vector<TBRNLogEvent> events = EventsAfter(logged);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Category, lcInformation);
  EXPECT_EQ(events[0].Function, 94);
  EXPECT_EQ(events[0].Description, "Job: Nightly Description: Cleans up");

  // The stamp is in the file: another session sees it.
  auto other = OtherSession("Administrator", "GlenHarbor");
  EXPECT_EQ(static_cast<TBRNJob*>(other->Config->Jobs->FindByName("Nightly", true))->LastRun,
            Job("Nightly")->LastRun);

  Session->ResetJob("Nightly");
  EXPECT_EQ(Job("Nightly")->LastRun, 0);
  EXPECT_TRUE(IsJobDue(Job("Nightly")));
}

TEST_F(JobCommandTest, AFailingBodyIsLoggedAndKeepsTheLastRun) {
  AddJob("Nightly");
  Session->PrepareJob("Nightly");
  Session->ExecuteJob(Job("Nightly"));
  const int64_t lastRun = Job("Nightly")->LastRun;
  const size_t logged = ReadLog(*Session).size();

  Evaluator->Fail = true;
  Session->ExecuteJob(Session->PrepareJob("Nightly"));
  EXPECT_EQ(Job("Nightly")->LastRun, lastRun);
  std::vector<TBRNLogEvent> events = EventsAfter(logged);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Category, lcInformation);
  EXPECT_EQ(events[0].Function, 94);
  EXPECT_EQ(events[0].Description, "Job: Nightly Description: Cleans up");
  EXPECT_EQ(events[1].Category, lcError);
  EXPECT_EQ(events[1].Function, 94);
  EXPECT_EQ(events[1].ErrorCode, 9001);
  EXPECT_EQ(events[1].Description, "The body failed");
  // The job's lock went with the run: it can be altered.
  Session->EndAlterJob(Session->BeginAlterJob("Nightly"));
}

TEST_F(JobCommandTest, PrepareLogsAFailureAndAnswersNil) {
  const size_t logged = ReadLog(*Session).size();
  EXPECT_EQ(Session->PrepareJob("Nobody"), nullptr);
  std::vector<TBRNLogEvent> events = EventsAfter(logged);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Category, lcError);
  EXPECT_EQ(events[0].Function, 93);
  EXPECT_EQ(events[0].ErrorCode, 401);
  EXPECT_FALSE(Session->ConfigManager->InUpdate);
}

TEST_F(JobCommandTest, ARunningJobCannotBeAlteredDroppedRenamedOrReset) {
  AddJob("Nightly");
  // Another session runs it: it holds the job's Exclusive lock.
  auto runner = OtherSession("Administrator", "GlenHarbor");
  TBRNJob* running = static_cast<TBRNJob*>(runner->Config->Jobs->FindByName("Nightly", true));
  runner->ConfigLockManager->LockObject(running, ltExclusive, -1);

  EXPECT_EQ(ErrorCodeOf([&] { Session->BeginAlterJob("Nightly"); }), 300);
  EXPECT_EQ(ErrorCodeOf([&] { Session->DropJob("Nightly"); }), 300);
  EXPECT_EQ(ErrorCodeOf([&] { Session->RenameJob("Nightly", "Daily"); }), 300);
  EXPECT_EQ(ErrorCodeOf([&] { Session->ResetJob("Nightly"); }), 300);
  EXPECT_NE(Job("Nightly"), nullptr);
  EXPECT_FALSE(Session->ConfigManager->InUpdate);
  // Running it here too fails on the lock, logged and not raised.
  const size_t logged = ReadLog(*Session).size();
  Session->ExecuteJob(Session->PrepareJob("Nightly"));
  EXPECT_EQ(Evaluator->Runs, 0);
  std::vector<TBRNLogEvent> events = EventsAfter(logged);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].ErrorCode, 300);

  runner->ConfigLockManager->UnlockObject(running, ltExclusive);
  Session->DropJob("Nightly");
  EXPECT_EQ(Job("Nightly"), nullptr);
}

}  // namespace
}  // namespace brn::testing
