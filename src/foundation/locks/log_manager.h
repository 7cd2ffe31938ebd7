#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/core/memory_stream.h"

namespace brn {

class TBRNFileManager;
class TBRNFileStream;
class TBRNLockManager;
class TBRNLockable;

enum TBRNLogCategory : int32_t { lcInformation = 0, lcWarning = 1, lcError = 2 };

// A set of log categories, one bit per category (the settings' logged
// categories).
using TBRNLogCategories = uint8_t;
inline constexpr TBRNLogCategories LogCategoryBit(TBRNLogCategory category) {
  return category >= lcInformation && category <= lcError ? TBRNLogCategories(1u << category) : 0;
}

// The edition tag that this engine writes into its events.
inline constexpr const char* kEngineProductType = "MZTRAQEL";

// One event of the log file: exactly one 512-byte record on disk.
class TBRNLogEvent {
 public:
  static constexpr int32_t kRecordSize = 512;

  int32_t Category = lcInformation;
  int32_t Function = 0;
  int32_t ErrorCode = 0;
  std::string Description;  // at most 300 characters
  int64_t LogTimeStamp = 0;
  int64_t Version = 0;  // decimal: the version times 10000
  int32_t Build = 0;
  std::string ProductType;  // 10
  std::string User;         // 30
  std::string Process;      // 30
  int32_t ThreadID = 0;
  int32_t SessionID = 0;
  std::string SessionName;         // 30
  std::string SessionDescription;  // 60
  std::string IPAddress;           // 16
  bool Encrypted = false;

  // "Information", "Warning", "Error"; empty for any other category.
  std::string GetKindName() const;
  std::string GetOperationName() const;

  // Writes the record at the stream's position and leaves the position one
  // record further; unused bytes are zero. Strings are cut to their maximum
  // and, where the fields would not fit the record, the description is cut
  // further so that nothing is lost off the record's end.
  void WriteToStream(TBRNMemoryStream& stream) const;
  // Reads a record at the position without reading past its 512 bytes and
  // leaves the position one record further.
  void ReadFromStream(TBRNMemoryStream& stream);
};

// The circular log file: a 4-byte header with the number of the next record
// to write, then 512-byte records; past the maximum size writing starts again
// at record 1. Writers of every process serialise on the log's transaction
// lock and append under its write lock; readers hold read locks for the
// whole scan. A write that fails (the record, the header or the flush)
// raises the file error (600) from WriteEvent and releases the locks; an
// event is reported logged only once it is written and flushed. One manager
// is used by one thread at a time.
class TBRNLogManager {
 public:
  using TBRNLogChangeEvent = std::function<void(TBRNLockable*)>;

  static constexpr int32_t kReadBufferSize = 32256;  // 63 records

  TBRNLogManager(TBRNLockable* logObject, TBRNLockManager* lockManager,
                 TBRNFileManager* fileManager);
  virtual ~TBRNLogManager();
  TBRNLogManager(const TBRNLogManager&) = delete;
  TBRNLogManager& operator=(const TBRNLogManager&) = delete;

  TBRNLockable* LogObject;
  TBRNLockManager* LockManager;
  TBRNFileManager* FileManager;
  std::string LogFileName;
  std::unique_ptr<TBRNFileStream> LogFile;
  int32_t MaxSize = 1048576;
  int32_t NextRecord = 1;
  int32_t ReadRecord = 1;
  bool Wrapped = false;
  TBRNMemoryStream HeaderBuffer;
  TBRNMemoryStream ReadBuffer;
  TBRNMemoryStream RecordBuffer;
  bool Opened = false;
  bool WriteBegun = false;
  int32_t ReadNesting = 0;
  TBRNLogChangeEvent OnChange;

  virtual std::string GetLogFileName();
  // 101 "There was an error updating the %s %s (%s)".
  [[noreturn]] virtual void RaiseReadOnlyError();
  virtual void OpenLogFile();
  virtual void CloseLogFile();

  void Open();
  void Close();
  void CloseAndDelete();

  void WriteEvent(const TBRNLogEvent& event);
  void BeginWrite();
  void EndWrite();
  void CancelWrite();

  void BeginRead();
  void EndRead();
  // Oldest first: false when there is no (further) event.
  bool ReadFirstEvent(TBRNLogEvent& event);
  bool ReadNextEvent(TBRNLogEvent& event);

  // true when another writer has appended since the header was last read.
  bool CheckForChanges();

 private:
  void LoadHeader();
  void SaveHeader();
  void AppendRecord();
  // Appends the record and saves the header; on failure NextRecord and, where
  // the record had grown the file, its size are as before.
  void AppendAndSave();
  // For clean-up on an error path, where the first error is the one to report.
  void UnlockQuietly(uint8_t lockType);
  bool ReadChunk();
  void DoChange();
};

}  // namespace brn
