// The server's job scheduler and job threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/server/server_engine_manager.h"
#include "clientserver/server/server_session.h"
#include "foundation/file_test_support.h"
#include "foundation/locks/log_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "foundation/wait_test_support.h"
#include "metadata/config/config.h"
#include "metadata/config/jobs.h"
#include "metadata/config/users_roles.h"
#include "sessions/engine_settings.h"
#include "sessions/local/evaluator_factory.h"
#include "sessions/local/local_log_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {
namespace {

using testing::WaitUntil;

// What the job bodies did, by job name (the job thread's session name).
struct JobProbe {
  std::mutex lock;
  std::map<std::string, int> runs;
  std::map<std::string, int> ended;
  std::atomic<bool> release{false};
  TBRNServerEngineManager* engine = nullptr;

  int Runs(const std::string& name) {
    std::lock_guard<std::mutex> guard(lock);
    return runs[name];
  }
  int Ended(const std::string& name) {
    std::lock_guard<std::mutex> guard(lock);
    return ended[name];
  }
};

// Runs a job's body by its name: "Fails" raises, "Slow" waits for the
// probe's release, "Endless" and "Switch" (which keeps switching jobs) run
// until the session's progress check says stop; anything else returns.
class JobEvaluator : public TBRNSessionStubEvaluator {
 public:
  JobEvaluator(TBRNLocalSessionManager& session, JobProbe& probe)
      : session_(session), probe_(probe) {}

  void ExecuteRoutine(TBRNExprToken*) override {
    const std::string name = session_.SessionName;
    {
      std::lock_guard<std::mutex> guard(probe_.lock);
      ++probe_.runs[name];
    }
    session_.BeginProgress();
    struct End {
      TBRNLocalSessionManager& Session;
      JobProbe& Probe;
      std::string Name;
      ~End() {
        Session.EndProgress();
        std::lock_guard<std::mutex> guard(Probe.lock);
        ++Probe.ended[Name];
      }
    } end{session_, probe_, name};
    if (name == "Fails") throw EBRNException(9001, "The body failed");
    bool endless = name == "Endless" || name == "Switch";
    if (name != "Slow" && !endless) return;
    while (endless || !probe_.release.load()) {
      if (name == "Switch") probe_.engine->EnableJob("Slow");
      if (!session_.ForceProgress(0)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

 private:
  TBRNLocalSessionManager& session_;
  JobProbe& probe_;
};

class ServerJobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    probe.engine = &engine;
    previousFactory = SetSessionEvaluatorFactory([this](TBRNLocalSessionManager& session) {
      return std::unique_ptr<TBRNExpressionEvaluator>(new JobEvaluator(session, probe));
    });
    engine.Settings->SetConfigPath(folder.Path);
    engine.ServerAddress = "127.0.0.1";
    engine.ServerPort = 0;
    engine.ServerAuthorizedAddresses->Add("*");
    engine.JobTimerInterval = 0;
    engine.SweepTimerEnabled = false;
    engine.Start();
    admin = std::make_unique<TBRNLocalSessionManager>(&engine, false, false);
    admin->OpenSession("test:1", "admin", "jobs test");
    admin->Login("Administrator", "GlenHarbor");
  }

  void TearDown() override {
    probe.release = true;
    admin.reset();
    engine.Stop();
    SetSessionEvaluatorFactory(previousFactory);
  }

  // Due every minute of every day, as runAs.
  void AddJob(const std::string& name, const std::string& category = std::string(),
              TBRNUser* runAs = nullptr) {
    TBRNJob* job = admin->BeginCreateJob(name);
    job->SetRunAsUser(runAs != nullptr ? runAs : admin->Config->AdministratorUser);
    job->SetCategory(category);
    job->SetScheduleType(jsEveryXMinutes);
    job->SetInterval(0);
    for (int32_t day = 1; day <= 7; ++day) job->SetDay(day, true);
    job->SetStartDate(0);
    job->SetEndDate(99999999);
    job->SetStartTime(0);
    job->SetEndTime(86399999);
    job->Body->SetText("JOB \"" + name + "\" BEGIN END");
    admin->EndCreateJob(job);
  }

  std::vector<TBRNLogEvent> LogEvents() {
    std::vector<TBRNLogEvent> events;
    admin->LogManager->BeginRead();
    TBRNLogEvent event;
    for (bool more = admin->LogManager->ReadFirstEvent(event); more;
         more = admin->LogManager->ReadNextEvent(event))
      events.push_back(event);
    admin->LogManager->EndRead();
    return events;
  }

  int CountEvents(int32_t category, int32_t operation) {
    int count = 0;
    for (const TBRNLogEvent& event : LogEvents())
      if (event.Category == category && event.Function == operation) ++count;
    return count;
  }

  brn::testing::TempDirectory folder;
  JobProbe probe;
  TBRNSessionEvaluatorFactory previousFactory;
  TBRNServerEngineManager engine;
  std::unique_ptr<TBRNLocalSessionManager> admin;
};

TEST_F(ServerJobsTest, ADueJobStartsOnceAndNotAgainWhileItRuns) {
  AddJob("Slow");
  engine.ScheduleJobs();
  ASSERT_TRUE(WaitUntil([&] { return probe.Runs("Slow") == 1; }));
  engine.ScheduleJobs();
  engine.ScheduleJobs();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(probe.Runs("Slow"), 1);
  probe.release = true;
  // Once it has ended it is due again.
  EXPECT_TRUE(WaitUntil([&] {
    engine.ScheduleJobs();
    return probe.Runs("Slow") == 2;
  }));
}

TEST_F(ServerJobsTest, OnlyJobsOfTheServerCategoryRun) {
  engine.ServerJobCategory = "Nightly";
  AddJob("Other", "Weekly");
  AddJob("Mine", "nightly  ");
  engine.ScheduleJobs();
  ASSERT_TRUE(WaitUntil([&] { return probe.Ended("Mine") == 1; }));
  engine.ScheduleJobs();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(probe.Runs("Other"), 0);
}

TEST_F(ServerJobsTest, NothingRunsWhenServerRunJobsIsOff) {
  engine.ServerRunJobs = false;
  AddJob("Mine");
  engine.ScheduleJobs();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(probe.Runs("Mine"), 0);
}

TEST_F(ServerJobsTest, AJobThatCannotBePreparedIsNeverStartedAgain) {
  TBRNUser* clerk = admin->BeginCreateUser("Clerk");
  clerk->SetPassword("secret");
  admin->EndCreateUser(clerk);
  // Preparing needs an administrator: the run as Clerk prepares to nothing.
  AddJob("Clerical", std::string(),
         static_cast<TBRNUser*>(admin->Config->Users->FindByName("Clerk", true)));
  constexpr int32_t kPrepareJob = 93;
  int before = CountEvents(lcError, kPrepareJob);
  engine.ScheduleJobs();
  ASSERT_TRUE(WaitUntil([&] { return CountEvents(lcError, kPrepareJob) == before + 1; }));
  // The thread clears its running mark after logging; give it that time.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  for (int i = 0; i < 3; ++i) engine.ScheduleJobs();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(CountEvents(lcError, kPrepareJob), before + 1);
  EXPECT_EQ(probe.Runs("Clerical"), 0);
}

TEST_F(ServerJobsTest, AFailingJobIsLoggedWithOperation94) {
  AddJob("Fails");
  engine.ScheduleJobs();
  ASSERT_TRUE(WaitUntil([&] { return probe.Ended("Fails") == 1; }));
  ASSERT_TRUE(WaitUntil([&] {
    for (const TBRNLogEvent& event : LogEvents())
      if (event.Category == lcError && event.Function == kBRNOperationExecuteJob &&
          event.ErrorCode == 9001)
        return true;
    return false;
  }));
}

TEST_F(ServerJobsTest, StopEndsRunningJobsWithinFiveSeconds) {
  AddJob("Endless");
  AddJob("Switch");
  engine.ScheduleJobs();
  ASSERT_TRUE(
      WaitUntil([&] { return probe.Runs("Endless") == 1 && probe.Runs("Switch") == 1; }));
  admin.reset();
  auto started = std::chrono::steady_clock::now();
  engine.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(probe.Ended("Endless"), 1);
  EXPECT_EQ(probe.Ended("Switch"), 1);
}

TEST_F(ServerJobsTest, JobSwitchesWorkOnTheSchedulerSession) {
  AddJob("Mine");
  // The scheduler session reads the new job at its next configuration read.
  engine.ScheduleJobs();
  ASSERT_TRUE(WaitUntil([&] { return probe.Ended("Mine") == 1; }));
  EXPECT_TRUE(engine.IsJobEnabled("Mine"));
  engine.DisableJob("Mine");
  EXPECT_FALSE(engine.IsJobEnabled("Mine"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  engine.ScheduleJobs();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(probe.Runs("Mine"), 1);
  engine.EnableAllJobs();
  EXPECT_TRUE(engine.IsJobEnabled("Mine"));
}

}  // namespace
}  // namespace brn
