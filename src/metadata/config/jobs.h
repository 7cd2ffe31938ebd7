#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "metadata/core/config_objects.h"
#include "metadata/core/lockable_config_object.h"
#include "metadata/core/object_link.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/job_schedule_kind.h"

namespace brn {

class TBRNJob;
class TBRNUser;

// Jobs may number at most this many.
inline constexpr int32_t kMaxJobCount = 4096;

// "Once" .. "Every X Minutes"; empty for any other value.
std::string JobTypeName(int32_t scheduleType);

// The procedural body of a job: its SQL text, stored as the text alone, and
// the tree compiled from it. Owned by its job; a change of the text marks the
// job modified.
class TBRNJobRoutine : public TBRNCompiledExpr {
 public:
  explicit TBRNJobRoutine(TBRNJob* job) : Job(job) {}

  TBRNJob* Job;  // the owner, never nullptr while the job lives

  void TextChanged() override;
  // The body's tree, parsed and validated by the configuration's parser
  // and validator (a job's text names no catalog objects before its USE);
  // std::logic_error when the job belongs to no configuration.
  TBRNExprToken* Parse() override;
  void Validate() override;
};

// A stored procedural body that the server runs on a schedule as a given
// user. The scheduler asks IsJobDue every minute for every enabled job that
// is neither running nor marked not runnable.
//
// Its Shared and Exclusive lock range starts at LockNumber x 4096 + 16785410
// in the configuration lock file and is 4096 bytes long (a job is locked
// Exclusive while it runs or is altered); the root gives every new job the
// smallest free lock number. Asking a job with lock number 0 for its range
// throws std::out_of_range.
//
// The run-as user is kept by name. A job whose user was dropped has an empty
// RunAsUserName and no run-as user: it is not runnable and never due (it
// does not fall back to the System user, whose rights it was never given).
//
// Stored record, after the lockable part (Attributes stored): Version
// (int64, format 2.04 on), RunAsUserName, Category (strings), ScheduleType,
// StartDate, EndDate, StartTime, EndTime, Interval (int32 each), the 7 days
// and 12 months as one byte each (days Monday first) with DayNumber, Ordinal
// and Weekday (int32 each) between them, the body's text (string), LastRun
// (int64), FormatVersion (int64, format 2.04 on), LockNumber (int32).
class TBRNJob : public TBRNLockableConfigObject {
 public:
  explicit TBRNJob(TBRNConfigRoot* config);
  ~TBRNJob() override;

  bool Enabled = true;        // not stored; ENABLE JOB / DISABLE JOB
  int64_t Version = 10000;    // fixed point, scaled by 10000
  std::string RunAsUserName;  // the user the job runs as
  std::string Category;
  int32_t ScheduleType = jsOnce;  // a TBRNJobScheduleKind
  int32_t StartDate = 0;          // day numbers, both included
  int32_t EndDate = 0;
  int32_t StartTime = 0;  // milliseconds since midnight, both included
  int32_t EndTime = 0;
  int32_t Interval = 0;
  std::array<bool, 7> Days{};     // [0] Monday .. [6] Sunday
  int32_t DayNumber = 0;          // day of the month of a monthly job without ordinal
  int32_t Ordinal = 0;            // 0 none, 1 First .. 4 Fourth, 5 Last
  int32_t Weekday = 0;            // 1 Monday .. 7 Sunday, with Ordinal
  std::array<bool, 12> Months{};  // [0] January .. [11] December
  std::unique_ptr<TBRNJobRoutine> Body;
  int64_t LastRun = 0;        // local timestamp in ms of the end of the last run, 0 never
  int64_t FormatVersion = 0;  // root version when made or last changed
  bool Running = false;       // not stored; set by the scheduler
  bool NotRunnable = false;   // not stored; set when a job thread could not start it
  int32_t LockNumber = 0;

  // The days and months by their 1-based numbers (Monday 1, January 1);
  // std::out_of_range outside 1..7 (1..12).
  bool GetDay(int32_t index) const;
  bool GetMonth(int32_t index) const;

  // Setters assign and mark modified only when the value differs.
  void SetVersion(int64_t value);
  // Caches the user and takes its name when it differs ignoring case.
  void SetRunAsUser(TBRNUser* user);
  void SetCategory(const std::string& value);  // ignoring case
  void SetScheduleType(int32_t value);
  void SetStartDate(int32_t value);
  void SetEndDate(int32_t value);
  void SetStartTime(int32_t value);
  void SetEndTime(int32_t value);
  void SetInterval(int32_t value);
  void SetDay(int32_t index, bool value);
  void SetDayNumber(int32_t value);
  void SetOrdinal(int32_t value);
  void SetWeekday(int32_t value);
  void SetMonth(int32_t index, bool value);
  void SetLastRun(int64_t value);
  void SetLockNumber(int32_t value);

  // The user named RunAsUserName (cached); nullptr when the name is empty or
  // names no user. The caller must not run the job without it.
  TBRNUser* GetRunAsUser();
  // Not marked NotRunnable and the run-as user exists.
  bool IsRunnable();

  // "Mon, Wed" ; "Jan, Jul" ; "Last Fri".
  std::string GetDaysText() const;
  std::string GetMonthsText() const;
  std::string GetOrdinalText() const;

  // 100 "Day number for month must be between 1 and 31".
  [[noreturn]] void RaiseInvalidDayNumber() const;

  // The base behaviour; marking modified also stamps FormatVersion with the
  // root's version (when there is a root).
  void SetModified(bool value) override;
  bool HasAttributes() const override;
  std::string GetObjectTypeName() const override;
  int32_t GetLockOffset(uint8_t lockType) const override;
  int32_t GetLockLength(uint8_t lockType) const override;
  // The base check; a monthly job without ordinal needs a day number 1..31.
  void Validate() override;
  // Compiles (uncompiles) the body.
  void Compile() override;
  void Uncompile() override;
  // Copies every stored field and the body (with its compiled state when
  // copyState); not Enabled, Running nor NotRunnable.
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  // Drops the cached run-as user and clears NotRunnable.
  void ResetLinks() override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  // A lock number whose range does not fit in the lock file is refused with
  // the metadata error. A daily, hourly, every-X-hours or every-X-minutes
  // record without days runs on every day.
  void LoadFromStream(TBRNMemoryStream& stream) override;
  // References to users, by RunAsUserName. Removing the reference empties the
  // name: the job is then not runnable.
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  void RemoveReferenceTo(TBRNConfigObject* target) override;
  int64_t GetMemorySize() const override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;

 private:
  std::string scheduleSQL() const;
  TBRNObjectLink runAsUserLink_;
};

// The jobs of the configuration (at most 4096; system table "Jobs").
class TBRNJobs : public TBRNCollection<TBRNJob, TBRNConfigObjects, kMaxJobCount> {
 public:
  explicit TBRNJobs(TBRNConfigRoot* config);

  TBRNJob* GetJob(int32_t index) const;

  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
};

// Whether the job must start at the local timestamp now (ms; the clock is
// passed in so that schedules can be tested). Whole days, hours and minutes
// count; seconds are ignored. A job that is not runnable is never due.
bool IsJobDue(TBRNJob* job, int64_t now);
// The same at the current local time.
bool IsJobDue(TBRNJob* job);

}  // namespace brn
