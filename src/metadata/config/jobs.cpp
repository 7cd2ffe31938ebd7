#include "metadata/config/jobs.h"

#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/locks/lockable.h"
#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "foundation/types/literal_text.h"
#include "metadata/config/config.h"
#include "metadata/config/privileges.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/ddl_text.h"
#include "metadata/core/object_selections.h"
#include "sql/parser/expr_parser.h"
#include "sql/validator/expr_validator.h"

namespace brn {

namespace {

const char* const kJobTypeNames[] = {"Once",    "Daily",         "Weekly",
                                     "Monthly", "Every X Days",  "Every X Weeks",
                                     "Hourly",  "Every X Hours", "Every X Minutes"};
const char* const kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kOrdinalNames[] = {"First", "Second", "Third", "Fourth", "Last"};

constexpr int32_t kMSecsPerMinute = 60000;
constexpr int32_t kMSecsPerHour = 3600000;

std::string dayName(int32_t weekday) {
  return weekday >= 1 && weekday <= 7 ? kDayNames[weekday - 1] : "";
}

// Lock number 0 is a job that was never given one; any other number must
// give a range inside the lock file.
bool isValidLockNumber(int32_t lockNumber) {
  if (lockNumber == 0) return true;
  try {
    NumberedLockOffset(kJobLockBase, lockNumber);
    return true;
  } catch (const std::out_of_range&) {
    return false;
  }
}

}  // namespace

std::string JobTypeName(int32_t scheduleType) {
  return scheduleType >= jsOnce && scheduleType <= jsEveryXMinutes ? kJobTypeNames[scheduleType]
                                                                   : "";
}

// ---------------------------------------------------------------------------
// TBRNJobRoutine

void TBRNJobRoutine::TextChanged() {
  TBRNCompiledExpr::TextChanged();
  if (Job != nullptr) Job->SetModified(true);
}

namespace {

TBRNConfig& configOf(const TBRNJob* job) {
  auto* config = job != nullptr ? dynamic_cast<TBRNConfig*>(job->Config) : nullptr;
  if (config == nullptr || config->Parser == nullptr || config->Validator == nullptr)
    throw std::logic_error("A job body is compiled within a configuration only");
  return *config;
}

// Job bodies take what a procedure body takes, and USE.
constexpr TBRNParseFlags kJobRoutineFlags =
    pcQueries | pcSchemaQualifier | pcColumnQualifier | pcEndOfText | pcDatabaseOperations;

}  // namespace

TBRNExprToken* TBRNJobRoutine::Parse() {
  TBRNExprParser& parser = *configOf(Job).Parser;
  parser.BeginParse(*this);
  return parser.ParseJobRoutine(kJobRoutineFlags);
}

void TBRNJobRoutine::Validate() {
  TBRNExprValidator& validator = *configOf(Job).Validator;
  validator.SetExpression(*this);
  try {
    validator.ValidateExpression();
  } catch (...) {
    validator.ReleaseReferences();
    throw;
  }
}

// ---------------------------------------------------------------------------
// TBRNJob

TBRNJob::TBRNJob(TBRNConfigRoot* config)
    : TBRNLockableConfigObject(config),
      Body(std::make_unique<TBRNJobRoutine>(this)),
      FormatVersion(config != nullptr ? config->GetFormatVersion() : kNewestFormatVersion) {}

TBRNJob::~TBRNJob() = default;

bool TBRNJob::GetDay(int32_t index) const {
  if (index < 1 || index > 7) throw std::out_of_range("Job day outside 1..7");
  return Days[size_t(index - 1)];
}

bool TBRNJob::GetMonth(int32_t index) const {
  if (index < 1 || index > 12) throw std::out_of_range("Job month outside 1..12");
  return Months[size_t(index - 1)];
}

void TBRNJob::SetVersion(int64_t value) {
  if (value == Version) return;
  Version = value;
  SetModified(true);
}

void TBRNJob::SetRunAsUser(TBRNUser* user) {
  runAsUserLink_.Set(user, Config);
  std::string name = user != nullptr ? user->GetName() : std::string();
  if (TextEqualsIgnoreCase(name, RunAsUserName)) return;
  RunAsUserName = name;
  SetModified(true);
}

void TBRNJob::SetCategory(const std::string& value) {
  if (TextEqualsIgnoreCase(value, Category)) return;
  Category = value;
  SetModified(true);
}

#define BRN_JOB_SETTER(Setter, Field, Type) \
  void TBRNJob::Setter(Type value) {        \
    if (value == Field) return;             \
    Field = value;                          \
    SetModified(true);                      \
  }

BRN_JOB_SETTER(SetScheduleType, ScheduleType, int32_t)
BRN_JOB_SETTER(SetStartDate, StartDate, int32_t)
BRN_JOB_SETTER(SetEndDate, EndDate, int32_t)
BRN_JOB_SETTER(SetStartTime, StartTime, int32_t)
BRN_JOB_SETTER(SetEndTime, EndTime, int32_t)
BRN_JOB_SETTER(SetInterval, Interval, int32_t)
BRN_JOB_SETTER(SetDayNumber, DayNumber, int32_t)
BRN_JOB_SETTER(SetOrdinal, Ordinal, int32_t)
BRN_JOB_SETTER(SetWeekday, Weekday, int32_t)
BRN_JOB_SETTER(SetLastRun, LastRun, int64_t)
BRN_JOB_SETTER(SetLockNumber, LockNumber, int32_t)

#undef BRN_JOB_SETTER

void TBRNJob::SetDay(int32_t index, bool value) {
  if (GetDay(index) == value) return;
  Days[size_t(index - 1)] = value;
  SetModified(true);
}

void TBRNJob::SetMonth(int32_t index, bool value) {
  if (GetMonth(index) == value) return;
  Months[size_t(index - 1)] = value;
  SetModified(true);
}

TBRNUser* TBRNJob::GetRunAsUser() {
  if (auto* cached = runAsUserLink_.Get(Config)) return static_cast<TBRNUser*>(cached);
  if (RunAsUserName.empty()) return nullptr;
  TBRNUser* user = FindUserByName(this, RunAsUserName);
  if (user != nullptr) runAsUserLink_.Set(user, Config);
  return user;
}

bool TBRNJob::IsRunnable() {
  return !NotRunnable && GetRunAsUser() != nullptr;
}

std::string TBRNJob::GetDaysText() const {
  std::string text;
  for (size_t i = 0; i < Days.size(); ++i) {
    if (!Days[i]) continue;
    if (!text.empty()) text += ", ";
    text += kDayNames[i];
  }
  return text;
}

std::string TBRNJob::GetMonthsText() const {
  std::string text;
  for (size_t i = 0; i < Months.size(); ++i) {
    if (!Months[i]) continue;
    if (!text.empty()) text += ", ";
    text += kMonthNames[i];
  }
  return text;
}

std::string TBRNJob::GetOrdinalText() const {
  std::string ordinal = Ordinal >= 1 && Ordinal <= 5 ? kOrdinalNames[Ordinal - 1] : "";
  return ordinal + " " + dayName(Weekday);
}

void TBRNJob::RaiseInvalidDayNumber() const {
  RaiseMetadataError(FormatText("Day number for month must be between %s and %s", {"1", "31"}));
}

void TBRNJob::SetModified(bool value) {
  TBRNLockableConfigObject::SetModified(value);
  if (value && Config != nullptr) FormatVersion = Config->GetFormatVersion();
}

bool TBRNJob::HasAttributes() const {
  return true;
}

std::string TBRNJob::GetObjectTypeName() const {
  return "job";
}

int32_t TBRNJob::GetLockOffset(uint8_t lockType) const {
  if (lockType != ltShared && lockType != ltExclusive) return 0;
  return NumberedLockOffset(kJobLockBase, LockNumber);
}

int32_t TBRNJob::GetLockLength(uint8_t lockType) const {
  return lockType == ltShared || lockType == ltExclusive ? kLockRangeLength : 0;
}

void TBRNJob::Validate() {
  TBRNLockableConfigObject::Validate();
  if (ScheduleType == jsMonthly && Ordinal == 0 && (DayNumber < 1 || DayNumber > 31)) {
    RaiseInvalidDayNumber();
  }
}

void TBRNJob::Compile() {
  Body->Compile();
}

void TBRNJob::Uncompile() {
  Body->Uncompile();
}

void TBRNJob::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNLockableConfigObject::Assign(source, copyState);
  auto* job = dynamic_cast<const TBRNJob*>(source);
  if (job == nullptr || job == this) return;
  Version = job->Version;
  RunAsUserName = job->RunAsUserName;
  Category = job->Category;
  ScheduleType = job->ScheduleType;
  StartDate = job->StartDate;
  EndDate = job->EndDate;
  StartTime = job->StartTime;
  EndTime = job->EndTime;
  Interval = job->Interval;
  Days = job->Days;
  DayNumber = job->DayNumber;
  Ordinal = job->Ordinal;
  Weekday = job->Weekday;
  Months = job->Months;
  Body->Assign(job->Body.get(), copyState);
  LastRun = job->LastRun;
  FormatVersion = job->FormatVersion;
  LockNumber = job->LockNumber;
  runAsUserLink_.Reset();
}

bool TBRNJob::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  if (!TBRNLockableConfigObject::IsEqual(other, compareIDs)) return false;
  auto* job = dynamic_cast<const TBRNJob*>(other);
  return job != nullptr && job->Version == Version &&
         TextEqualsIgnoreCase(job->RunAsUserName, RunAsUserName) &&
         TextEqualsIgnoreCase(job->Category, Category) && job->ScheduleType == ScheduleType &&
         job->StartDate == StartDate && job->EndDate == EndDate && job->StartTime == StartTime &&
         job->EndTime == EndTime && job->Interval == Interval && job->Days == Days &&
         job->DayNumber == DayNumber && job->Ordinal == Ordinal && job->Weekday == Weekday &&
         job->Months == Months && Body->Equals(job->Body.get()) && job->LastRun == LastRun &&
         job->LockNumber == LockNumber;
}

void TBRNJob::ResetLinks() {
  runAsUserLink_.Reset();
  NotRunnable = false;
  TBRNLockableConfigObject::ResetLinks();
}

void TBRNJob::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNLockableConfigObject::SaveToStream(stream, structureOnly);
  bool newFormat = StoredVersionAtLeast(this, kFormatVersion204);
  if (newFormat) stream.WriteInt64(Version);
  stream.WriteString(RunAsUserName);
  stream.WriteString(Category);
  stream.WriteInteger(ScheduleType);
  stream.WriteInteger(StartDate);
  stream.WriteInteger(EndDate);
  stream.WriteInteger(StartTime);
  stream.WriteInteger(EndTime);
  stream.WriteInteger(Interval);
  for (bool day : Days) stream.WriteBoolean(day);
  stream.WriteInteger(DayNumber);
  stream.WriteInteger(Ordinal);
  stream.WriteInteger(Weekday);
  for (bool month : Months) stream.WriteBoolean(month);
  Body->WriteToStream(stream);
  stream.WriteInt64(LastRun);
  if (newFormat) stream.WriteInt64(FormatVersion);
  stream.WriteInteger(LockNumber);
}

void TBRNJob::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNLockableConfigObject::LoadFromStream(stream);
  bool newFormat = StoredVersionAtLeast(this, kFormatVersion204);
  Version = newFormat ? readStoredInt64(stream) : kFormatVersion100;
  RunAsUserName = readStoredString(stream);
  Category = readStoredString(stream);
  ScheduleType = readStoredInteger(stream);
  StartDate = readStoredInteger(stream);
  EndDate = readStoredInteger(stream);
  StartTime = readStoredInteger(stream);
  EndTime = readStoredInteger(stream);
  Interval = readStoredInteger(stream);
  for (bool& day : Days) day = readStoredBoolean(stream);
  DayNumber = readStoredInteger(stream);
  Ordinal = readStoredInteger(stream);
  Weekday = readStoredInteger(stream);
  for (bool& month : Months) month = readStoredBoolean(stream);
  // The body's stored form is its text; it is read strictly here and handed
  // to the body, which uncompiles when the text changed.
  std::string text = readStoredString(stream);
  TBRNMemoryStream bodyStream;
  bodyStream.WriteString(text);
  bodyStream.SetPosition(0);
  Body->ReadFromStream(bodyStream);
  LastRun = readStoredInt64(stream);
  // A record older than 2.04 was written under its root's version.
  FormatVersion = newFormat ? readStoredInt64(stream) : GetVersion();
  int32_t lockNumber = readStoredInteger(stream);
  if (!isValidLockNumber(lockNumber)) {
    RaiseMetadataError(FormatText("Invalid lock number %s", {IntegerToString(lockNumber)}));
  }
  LockNumber = lockNumber;
  // Older engines stored no days for these kinds and ran them every day.
  bool anyDay = false;
  for (bool day : Days) anyDay = anyDay || day;
  if (!anyDay && (ScheduleType == jsDaily || ScheduleType == jsHourly ||
                  ScheduleType == jsEveryXHours || ScheduleType == jsEveryXMinutes)) {
    Days.fill(true);
  }
  ResetLinks();
}

void TBRNJob::RegisterReferenceTo(TBRNConfigObject* target) {
  if (dynamic_cast<TBRNUser*>(target) == nullptr || RunAsUserName.empty()) return;
  if (TextEqualsIgnoreCase(target->GetName(), RunAsUserName)) {
    target->GetReferrers()->AddObject(this);
  }
}

void TBRNJob::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  if (dynamic_cast<TBRNUser*>(target) == nullptr || RunAsUserName.empty()) return;
  if (!TextEqualsIgnoreCase(target->GetName(), RunAsUserName)) return;
  RunAsUserName = newName;
  SetModified(true);
}

void TBRNJob::RemoveReferenceTo(TBRNConfigObject* target) {
  if (dynamic_cast<TBRNUser*>(target) == nullptr || RunAsUserName.empty()) return;
  if (!TextEqualsIgnoreCase(target->GetName(), RunAsUserName)) return;
  // The job keeps no user rather than running with rights it was never
  // given; a later user of the same name does not inherit it either.
  RunAsUserName.clear();
  runAsUserLink_.Reset();
  NotRunnable = true;
  SetModified(true);
}

int64_t TBRNJob::GetMemorySize() const {
  return TBRNLockableConfigObject::GetMemorySize() + int64_t(sizeof(TBRNJob)) -
         int64_t(sizeof(TBRNLockableConfigObject)) + StringMemSize(RunAsUserName) +
         StringMemSize(Category) + Body->MemorySize();
}

std::string TBRNJob::scheduleSQL() const {
  const std::string days = UpperCaseText(GetDaysText());
  // Daily, hourly, every-X-hours and every-X-minutes jobs may leave their
  // day list out: without days they write no ON, since an empty list does
  // not parse. The statement, like a stored record, then gives every day.
  const std::string optionalDays = days.empty() ? "" : " ON " + days;
  const std::string interval = IntegerToString(Interval);
  switch (ScheduleType) {
    case jsOnce:
      return "ONCE";
    case jsDaily:
      return "DAILY" + optionalDays;
    case jsWeekly:
      return "WEEKLY ON " + days;
    case jsMonthly: {
      std::string on = Ordinal != 0 ? " ON " + UpperCaseText(GetOrdinalText())
                                    : " ON DAY " + IntegerToString(DayNumber);
      return "MONTHLY" + on + " OF " + UpperCaseText(GetMonthsText());
    }
    case jsEveryXDays:
      return "EVERY " + interval + " DAYS";
    case jsEveryXWeeks:
      return "EVERY " + interval + " WEEKS ON " + days;
    case jsHourly:
      return "HOURLY" + optionalDays;
    case jsEveryXHours:
      return "EVERY " + interval + " HOURS" + optionalDays;
    case jsEveryXMinutes:
      return "EVERY " + interval + " MINUTES" + optionalDays;
    default:
      return "";
  }
}

std::string TBRNJob::GetCreateSQL(bool, bool) {
  // Dates and times are written as typed literals and the window as
  // BETWEEN .. AND, so that the text is a statement the parser reads back.
  std::string text = "CREATE JOB " + QuoteString(Name, '"');
  text += "\r\nRUN AS " + QuoteString(RunAsUserName, '"');
  text += "\r\nFROM DATE '" + FormatDateLiteral(StartDate) + "' TO DATE '" +
          FormatDateLiteral(EndDate) + "'";
  text += "\r\n" + scheduleSQL();
  text += "\r\nBETWEEN TIME '" + FormatTimeLiteral(StartTime, true) + "' AND TIME '" +
          FormatTimeLiteral(EndTime, true) + "'";
  if (!Category.empty()) text += "\r\nCATEGORY " + QuoteString(Category, '\'');
  const std::string& body = Body->SQL;
  size_t begin = body.find("BEGIN");
  text += "\r\n" + TrimTrailingBlanks(begin == std::string::npos ? body : body.substr(begin));
  std::string description = TrimTrailingBlanks(Description);
  if (!description.empty()) text += "\r\nDESCRIPTION " + QuoteString(description, '\'');
  text += "\r\nVERSION " + VersionText(Version);
  std::string attributes = TrimTrailingBlanks(Attributes);
  if (!attributes.empty()) text += "\r\nATTRIBUTES " + QuoteString(attributes, '\'');
  return text;
}

std::string TBRNJob::GetDropSQL(bool, bool) {
  return "DROP JOB " + QuoteString(Name, '"');
}

// ---------------------------------------------------------------------------
// TBRNJobs

TBRNJobs::TBRNJobs(TBRNConfigRoot* config) : TBRNCollection(config) {}

TBRNJob* TBRNJobs::GetJob(int32_t index) const {
  return static_cast<TBRNJob*>(GetItem(index));
}

std::string TBRNJobs::GetObjectTypeName() const {
  return "job";
}

std::string TBRNJobs::GetSystemTableName() const {
  return "Jobs";
}

// ---------------------------------------------------------------------------
// The due test

bool IsJobDue(TBRNJob* job, int64_t now) {
  if (job == nullptr || !job->IsRunnable()) return false;
  // 64-bit arithmetic throughout: intervals and dates come from stored
  // records and may be anything.
  const int64_t today = TimestampToDate(now);
  const int64_t nowTime = TimestampToTime(now);
  const int64_t lastDate = job->LastRun != 0 ? TimestampToDate(job->LastRun) : 0;
  const int64_t lastTime = job->LastRun != 0 ? TimestampToTime(job->LastRun) : 0;
  const int64_t nowHour = nowTime / kMSecsPerHour;
  const int64_t nowMinute = nowTime / kMSecsPerMinute % 60;
  const int64_t lastHour = lastTime / kMSecsPerHour;
  const int64_t lastMinute = lastTime / kMSecsPerMinute % 60;
  const int64_t startMinute = int64_t(job->StartTime) / kMSecsPerMinute % 60;
  const int64_t interval = job->Interval;

  const bool inRange = job->StartDate <= today && today <= job->EndDate;
  // Whole minutes: a window ending at 17:00 still holds 17:00:30.
  const int64_t nowMinuteOfDay = nowTime / kMSecsPerMinute;
  const bool inWindow = int64_t(job->StartTime) / kMSecsPerMinute <= nowMinuteOfDay &&
                        nowMinuteOfDay <= int64_t(job->EndTime) / kMSecsPerMinute;
  const bool dayAllowed = today >= 1 && job->Days[size_t(WeekdayOfDate(int32_t(today)) - 1)];
  if (!inRange || !inWindow) return false;

  switch (job->ScheduleType) {
    case jsOnce:
      return job->LastRun == 0;
    case jsDaily:
    case jsWeekly:
      return dayAllowed && lastDate < today;
    case jsMonthly: {
      TBRNDateParts parts;
      DecodeDayNumber(int32_t(today), parts);
      if (parts.Month < 1 || !job->Months[size_t(parts.Month - 1)]) return false;
      bool dayMatches;
      if (job->Ordinal != 0) {
        dayMatches = IsNthWeekdayOfMonth(int32_t(today), job->Ordinal, job->Weekday);
      } else {
        dayMatches = parts.Day == job->DayNumber ||
                     (parts.Day < job->DayNumber && today == LastDayOfMonth(int32_t(today)));
      }
      return dayMatches && lastDate < today;
    }
    case jsEveryXDays:
      return today >= lastDate + interval;
    case jsEveryXWeeks:
      return dayAllowed && today >= lastDate + 7 * interval;
    case jsHourly:
      if (!dayAllowed || nowMinute < startMinute) return false;
      return (lastDate == today && nowHour >= lastHour + 1) || lastDate < today;
    case jsEveryXHours:
      if (!dayAllowed || nowMinute < startMinute) return false;
      if (lastDate == today) return nowHour >= lastHour + interval;
      return lastDate < today && nowHour + 24 * (today - lastDate) >= lastHour + interval;
    case jsEveryXMinutes:
      if (!dayAllowed) return false;
      if (lastDate == today && nowHour == lastHour) return nowMinute >= lastMinute + interval;
      if (lastDate == today && lastHour > nowHour) return false;
      if (lastDate > today) return false;
      return (today - lastDate) * 1440 + 60 * (nowHour - lastHour) + (nowMinute - lastMinute) >=
             interval;
    default:
      return false;
  }
}

bool IsJobDue(TBRNJob* job) {
  return IsJobDue(job, CurrentTimestamp(false));
}

}  // namespace brn
