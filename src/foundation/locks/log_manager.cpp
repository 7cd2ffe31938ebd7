#include "foundation/locks/log_manager.h"

#include <algorithm>

#include "foundation/files/file_manager.h"
#include "foundation/locks/lock_manager.h"
#include "foundation/locks/operation_codes.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

constexpr int32_t kHeaderSize = 4;

// Byte offset of record n (n >= 1).
int64_t recordOffset(int64_t n) {
  return n * TBRNLogEvent::kRecordSize - (TBRNLogEvent::kRecordSize - kHeaderSize);
}

std::string cut(const std::string& s, size_t maximum) {
  return s.size() <= maximum ? s : s.substr(0, maximum);
}

// Every fixed-width field of a record and the length prefixes of its seven
// strings.
constexpr int32_t kFixedBytes = 3 * 4 + 8 + 8 + 4 + 2 * 4 + 1 + 7 * 4;

// Runs its clean-up action once: through Run, where a failing action raises
// like any other call, or else when the scope is left. The destructor never
// throws: when it runs the action an error is usually leaving the scope
// already, and that error is the one to report, so a failure of the
// clean-up itself is swallowed.
class ScopeGuard {
 public:
  explicit ScopeGuard(std::function<void()> action) : action_(std::move(action)) {}
  ~ScopeGuard() {
    if (!pending_) return;
    try {
      action_();
    } catch (...) {
    }
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

  void Run() {
    pending_ = false;
    action_();
  }

 private:
  std::function<void()> action_;
  bool pending_ = true;
};

}  // namespace

std::string TBRNLogEvent::GetKindName() const {
  switch (Category) {
    case lcInformation:
      return "Information";
    case lcWarning:
      return "Warning";
    case lcError:
      return "Error";
    default:
      return "";
  }
}

std::string TBRNLogEvent::GetOperationName() const {
  return std::string(OperationName(Function));
}

void TBRNLogEvent::WriteToStream(TBRNMemoryStream& stream) const {
  int64_t start = stream.GetPosition();
  std::string productType = cut(ProductType, 10), user = cut(User, 30), process = cut(Process, 30),
              sessionName = cut(SessionName, 30), sessionDescription = cut(SessionDescription, 60),
              ipAddress = cut(IPAddress, 16);
  int32_t others = int32_t(productType.size() + user.size() + process.size() + sessionName.size() +
                           sessionDescription.size() + ipAddress.size());
  // The description gives way so that the trailing fields still fit.
  size_t descriptionRoom = size_t(std::max(0, kRecordSize - kFixedBytes - others));
  std::string description = cut(Description, std::min<size_t>(300, descriptionRoom));

  stream.WriteInteger(Category);
  stream.WriteInteger(Function);
  stream.WriteInteger(ErrorCode);
  stream.WriteString(description);
  stream.WriteInt64(LogTimeStamp);
  stream.WriteCurrency(Version);
  stream.WriteInteger(Build);
  stream.WriteString(productType);
  stream.WriteString(user);
  stream.WriteString(process);
  stream.WriteInteger(ThreadID);
  stream.WriteInteger(SessionID);
  stream.WriteString(sessionName);
  stream.WriteString(sessionDescription);
  stream.WriteString(ipAddress);
  stream.WriteBoolean(Encrypted);

  int64_t end = start + kRecordSize;
  if (stream.GetSize() < end) stream.SetSize(end);
  stream.FillZeros(int32_t(end - stream.GetPosition()));
}

void TBRNLogEvent::ReadFromStream(TBRNMemoryStream& stream) {
  int64_t start = stream.GetPosition();
  int32_t available = int32_t(std::clamp<int64_t>(stream.GetSize() - start, 0, kRecordSize));
  // A view of this one record: a damaged length prefix cannot reach into
  // the next record.
  TBRNMemoryStream record;
  record.AttachMemory(available > 0 ? stream.GetMemory() + start : nullptr, available);
  Category = record.ReadInteger();
  Function = record.ReadInteger();
  ErrorCode = record.ReadInteger();
  record.ReadString(Description);
  LogTimeStamp = record.ReadInt64();
  Version = record.ReadCurrency();
  Build = record.ReadInteger();
  record.ReadString(ProductType);
  record.ReadString(User);
  record.ReadString(Process);
  ThreadID = record.ReadInteger();
  SessionID = record.ReadInteger();
  record.ReadString(SessionName);
  record.ReadString(SessionDescription);
  record.ReadString(IPAddress);
  Encrypted = record.ReadBoolean();
  stream.SetPosition(start + kRecordSize);
}

TBRNLogManager::TBRNLogManager(TBRNLockable* logObject, TBRNLockManager* lockManager,
                               TBRNFileManager* fileManager)
    : LogObject(logObject), LockManager(lockManager), FileManager(fileManager) {
  HeaderBuffer.SetSize(kHeaderSize);
  ReadBuffer.SetCapacity(kReadBufferSize);
  RecordBuffer.SetCapacity(TBRNLogEvent::kRecordSize);
}

TBRNLogManager::~TBRNLogManager() {
  try {
    Close();
  } catch (...) {
  }
}

std::string TBRNLogManager::GetLogFileName() {
  return LogFileName;
}

void TBRNLogManager::RaiseReadOnlyError() {
  throw EBRNException(101, FormatText("There was an error updating the %s %s (%s)",
                                      {LogObject->GetObjectTypeName(), LogObject->GetName(),
                                       "The file is read-only"}));
}

void TBRNLogManager::OpenLogFile() {
  std::string name = GetLogFileName();
  if (FileManager->FileExists(name)) {
    LogFile = FileManager->OpenFile(name, false, false, false);
    if (!LogObject->GetReadOnly() && LogFile->IsFileReadOnly()) LogObject->SetReadOnly(true);
  } else {
    LogFile = FileManager->CreateFile(name, false, false, false);
  }
}

void TBRNLogManager::CloseLogFile() {
  LogFile.reset();
}

void TBRNLogManager::Open() {
  if (Opened) return;
  OpenLogFile();
  Opened = true;
}

void TBRNLogManager::Close() {
  if (!Opened) return;
  if (WriteBegun) CancelWrite();
  CloseLogFile();
  Opened = false;
}

void TBRNLogManager::CloseAndDelete() {
  Close();
  FileManager->DeleteFile(GetLogFileName());
}

void TBRNLogManager::DoChange() {
  if (OnChange) OnChange(LogObject);
}

void TBRNLogManager::LoadHeader() {
  LogFile->Acquire();
  ScopeGuard release([this] { LogFile->Release(); });
  int64_t size = LogFile->GetSize();
  if (size == 0) return;
  LogFile->SetPosition(0);
  // A header cut short is damage: its bytes are never used, and the number
  // is taken from the records present as for any other damaged header.
  int32_t next = 0;
  if (LogFile->Read(HeaderBuffer.GetMemory(), kHeaderSize) == kHeaderSize) {
    HeaderBuffer.SetPosition(0);
    next = HeaderBuffer.ReadInteger();
  }
  // A damaged header must not send the writer far beyond the file: the next
  // record lies within the records present, or just after them.
  int64_t records = std::max<int64_t>(0, size - kHeaderSize) / TBRNLogEvent::kRecordSize;
  NextRecord =
      (next < 1 || next > records + 1) ? int32_t(std::min<int64_t>(records + 1, INT32_MAX)) : next;
}

void TBRNLogManager::SaveHeader() {
  LogFile->Acquire();
  ScopeGuard release([this] { LogFile->Release(); });
  HeaderBuffer.SetPosition(0);
  HeaderBuffer.WriteInteger(NextRecord);
  LogFile->SetPosition(0);
  LogFile->Write(HeaderBuffer.GetMemory(), kHeaderSize);
  LogFile->Flush();
}

bool TBRNLogManager::CheckForChanges() {
  int32_t before = NextRecord;
  LoadHeader();
  if (NextRecord == before) return false;
  DoChange();
  return true;
}

void TBRNLogManager::AppendRecord() {
  int64_t n = NextRecord;
  LogFile->Acquire();
  ScopeGuard release([this] { LogFile->Release(); });
  if (n * TBRNLogEvent::kRecordSize + kHeaderSize > MaxSize) {
    // The record would end beyond the maximum: cut the file at its start
    // (never growing it) and begin again at record 1.
    int64_t cutAt = std::min(recordOffset(n), LogFile->GetSize());
    LogFile->SetSize(cutAt);
    n = 1;
  }
  LogFile->SetPosition(recordOffset(n));
  LogFile->Write(RecordBuffer.GetMemory(), TBRNLogEvent::kRecordSize);
  NextRecord = int32_t(n + 1);
}

void TBRNLogManager::WriteEvent(const TBRNLogEvent& event) {
  BeginWrite();
  try {
    RecordBuffer.SetPosition(0);
    event.WriteToStream(RecordBuffer);
    EndWrite();
  } catch (...) {
    // The error that stopped the write is the one to report, not a failing
    // unlock behind it.
    if (WriteBegun) {
      WriteBegun = false;
      UnlockQuietly(ltTransaction);
    }
    throw;
  }
}

void TBRNLogManager::BeginWrite() {
  if (LogObject->GetReadOnly()) RaiseReadOnlyError();
  if (WriteBegun) return;
  LockManager->LockObject(LogObject, ltTransaction, -1);
  try {
    LoadHeader();
  } catch (...) {
    UnlockQuietly(ltTransaction);
    throw;
  }
  WriteBegun = true;
}

void TBRNLogManager::AppendAndSave() {
  int32_t nextBefore = NextRecord;
  int64_t sizeBefore = LogFile->GetSize();
  try {
    AppendRecord();
    SaveHeader();
  } catch (...) {
    // The caller learns that the event was not logged; a record left behind
    // past the old end would still be read as one, so the file goes back to
    // its old size where the cut can be made.
    NextRecord = nextBefore;
    try {
      if (LogFile->GetSize() > sizeBefore) LogFile->SetSize(sizeBefore);
    } catch (...) {
    }
    throw;
  }
}

void TBRNLogManager::EndWrite() {
  if (!WriteBegun) return;
  LockManager->LockObject(LogObject, ltWrite, -1);
  {
    ScopeGuard unlockWrite([this] { LockManager->UnlockObject(LogObject, ltWrite); });
    AppendAndSave();
    unlockWrite.Run();
  }
  LockManager->UnlockObject(LogObject, ltTransaction);
  WriteBegun = false;
  DoChange();
}

void TBRNLogManager::CancelWrite() {
  if (!WriteBegun) return;
  WriteBegun = false;
  LockManager->UnlockObject(LogObject, ltTransaction);
}

void TBRNLogManager::UnlockQuietly(uint8_t lockType) {
  try {
    LockManager->UnlockObject(LogObject, lockType);
  } catch (...) {
  }
}

void TBRNLogManager::BeginRead() {
  if (LockManager->LockObject(LogObject, ltRead, -1)) {
    ++ReadNesting;
    try {
      CheckForChanges();
    } catch (...) {
      --ReadNesting;
      UnlockQuietly(ltRead);
      throw;
    }
  } else {
    ++ReadNesting;
  }
}

void TBRNLogManager::EndRead() {
  if (ReadNesting <= 0) return;
  --ReadNesting;
  if (ReadNesting == 0) LockManager->UnlockObject(LogObject, ltRead);
}

bool TBRNLogManager::ReadChunk() {
  LogFile->Acquire();
  ScopeGuard release([this] { LogFile->Release(); });
  int32_t bytesRead = 0;
  if (!Wrapped) {
    LogFile->SetPosition(recordOffset(ReadRecord));
    bytesRead = ReadBuffer.LoadFromStream(*LogFile, kReadBufferSize);
    if (bytesRead < TBRNLogEvent::kRecordSize) {
      ReadRecord = 1;
      Wrapped = true;
    }
  }
  if (Wrapped && bytesRead < TBRNLogEvent::kRecordSize) {
    int64_t wanted = std::min<int64_t>(int64_t(NextRecord - ReadRecord) * TBRNLogEvent::kRecordSize,
                                       kReadBufferSize);
    bytesRead = 0;
    if (wanted > 0) {
      LogFile->SetPosition(recordOffset(ReadRecord));
      bytesRead = ReadBuffer.LoadFromStream(*LogFile, wanted);
    }
  }
  // Only whole records count; a cut-off tail is not an event.
  bytesRead -= bytesRead % TBRNLogEvent::kRecordSize;
  ReadBuffer.SetSize(bytesRead);
  ReadBuffer.SetPosition(0);
  ReadRecord += bytesRead / TBRNLogEvent::kRecordSize;
  return bytesRead > 0;
}

bool TBRNLogManager::ReadFirstEvent(TBRNLogEvent& event) {
  Wrapped = false;
  ReadRecord = NextRecord;
  ReadBuffer.SetSize(0);
  if (!ReadChunk()) return false;
  event.ReadFromStream(ReadBuffer);
  return true;
}

bool TBRNLogManager::ReadNextEvent(TBRNLogEvent& event) {
  if (ReadBuffer.GetRemaining() < TBRNLogEvent::kRecordSize) {
    if (!ReadChunk()) return false;
  }
  event.ReadFromStream(ReadBuffer);
  return true;
}

}  // namespace brn
