#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/runtime/handle_objects.h"

namespace brn {

class TBRNCursor;
class TBRNMemoryStream;
class TBRNStream;
class TBRNParamValues;
class TBRNStringsList;

// The debugger's view of one declared item of a script, filled by
// TBRNScriptManager::GetVariableData. Kind: -1 not found, 0 scalar variable,
// 1 array variable, 2 other declared item, 3 cursor, 4 statement. Line and
// Column are the declaration's; Count is the highest array index in use,
// a cursor's row count or a statement's rows affected.
struct TBRNVariableData {
  std::string Name;
  int32_t Kind = -1;
  int32_t Line = 0;
  int32_t Column = 0;
  std::string TypeName;
  int32_t Count = 0;
  std::string Value;
};

// Lock types of databases and stores.
inline constexpr uint8_t kBRNLockShared = 1;
inline constexpr uint8_t kBRNLockExclusive = 2;

// The handle managers below are the objects that cross the session boundary.
// Each is abstract: the local engine implements it in process, the remote
// client as a proxy that sends one request per operation. Every manager is
// used by the thread of the session that owns it, never by two at once.

// A prepared statement. Params is created by the constructor: a subclass that
// needs its own parameter class passes it in.
class TBRNStatementManager : public TBRNHandleObject {
 public:
  explicit TBRNStatementManager(std::unique_ptr<TBRNParamValues> params = nullptr);
  ~TBRNStatementManager() override;

  virtual std::unique_ptr<TBRNParamValues> CreateParams();
  virtual bool GetSensitive() = 0;
  virtual void GetPlan(std::string& plan) = 0;
  virtual int32_t GetRowsAffected() = 0;
  virtual int32_t GetExecutionTime() = 0;
  virtual bool GetExecutionResult() = 0;
  // The result cursor, or nullptr for a statement without one.
  virtual TBRNCursor* ExecuteStatement() = 0;

  std::unique_ptr<TBRNParamValues> Params;
  bool RequestSensitive = true;
};

class TBRNProcedureManager : public TBRNHandleObject {
 public:
  explicit TBRNProcedureManager(std::unique_ptr<TBRNParamValues> params = nullptr);
  ~TBRNProcedureManager() override;

  virtual std::unique_ptr<TBRNParamValues> CreateParams();
  virtual int32_t GetExecutionTime() = 0;
  virtual TBRNCursor* ExecuteProcedure() = 0;

  std::unique_ptr<TBRNParamValues> Params;
};

class TBRNScriptManager : public TBRNHandleObject {
 public:
  explicit TBRNScriptManager(std::unique_ptr<TBRNParamValues> params = nullptr);
  ~TBRNScriptManager() override;

  virtual std::unique_ptr<TBRNParamValues> CreateParams();
  virtual int32_t GetExecutionTime() = 0;
  virtual TBRNCursor* ExecuteScript() = 0;
  // Set and Remove answer true when a statement or condition starts on the
  // line (the first such point is marked or unmarked); Has answers its mark.
  virtual bool SetBreakpoint(int32_t line) = 0;
  virtual bool HasBreakpoint(int32_t line) = 0;
  virtual bool RemoveBreakpoint(int32_t line) = 0;
  virtual void DebugScript() = 0;
  virtual TBRNCursor* GetScriptCursor() = 0;
  virtual void Pause() = 0;
  virtual void StepOver() = 0;
  virtual void StepInto() = 0;
  virtual void Resume() = 0;
  virtual void Stop() = 0;
  virtual void GetVariableNames(TBRNStringsList& names) = 0;
  virtual void GetVariableData(const std::string& name, TBRNVariableData& data) = 0;

  std::unique_ptr<TBRNParamValues> Params;
};

// An open database with the handle tables of the objects opened in it.
// These tables are the one owner of every cursor, statement, procedure and
// script: CloseDatabase frees what is still registered, and nothing else
// does. The session refers to them only through its non-owning index of
// session-wide handles (TBRNSessionHandleIndex), which a database's close
// clears of that database's objects.
class TBRNDatabaseManager : public TBRNHandleObject {
 public:
  TBRNDatabaseManager();
  ~TBRNDatabaseManager() override;

  // Sets Opened.
  virtual void OpenDatabase(uint8_t lockType);
  // Clears Opened and frees every script, procedure, statement and cursor
  // still registered, in that order.
  virtual void CloseDatabase(bool force);
  virtual TBRNCursor* OpenTable(const std::string& schemaName, const std::string& tableName,
                                bool exclusive, bool readOnly) = 0;
  virtual TBRNStatementManager* PrepareStatement(const std::string& sql) = 0;
  virtual TBRNProcedureManager* PrepareProcedure(const std::string& procedureName) = 0;
  virtual TBRNScriptManager* PrepareScript(const std::string& script) = 0;
  // An empty list means every table; lockWaitMs -1 waits without limit.
  virtual void StartTransaction(const TBRNStringsList& tables, int32_t lockWaitMs) = 0;
  virtual void Commit(bool forceFlush, bool flushOnly) = 0;
  virtual void Rollback() = 0;

  bool Opened = false;
  TBRNHandleObjects Cursors{4096, false};
  TBRNHandleObjects Statements{2048, false};
  TBRNHandleObjects Procedures{1024, false};
  TBRNHandleObjects Scripts{2048, false};
};

enum class TBRNStoreFileKind : int32_t { Plain = 0, Backup = 1, Update = 2 };

// One file of a store listing.
class TBRNStoreFile {
 public:
  int32_t Kind = 0;  // TBRNStoreFileKind; other values keep Kind and Name only
  std::string Name;
  std::string Description;  // not part of the stream form
  std::string DatabaseName;
  std::string DatabasePath;
  int64_t CreatedOn = 0;
  std::string CreatedBy;
  int32_t CompressionLevel = 0;
  int64_t Size = 0;
  int64_t Modified = 0;
  bool IncludesCatalog = false;
  int64_t CatalogVersion = 0;  // fixed point x10000
  std::vector<std::string> Tables;

  void SaveToStream(TBRNMemoryStream& stream) const;
  // Reads one record written by SaveToStream; Description becomes empty.
  // Counts and lengths are checked against the bytes that remain: a damaged
  // stream raises instead of reading past its end.
  void LoadFromStream(TBRNMemoryStream& stream);
};

// Owning list of store file records.
class TBRNStoreFilesList {
 public:
  TBRNStoreFilesList() = default;
  ~TBRNStoreFilesList() { Clear(); }
  TBRNStoreFilesList(const TBRNStoreFilesList&) = delete;
  TBRNStoreFilesList& operator=(const TBRNStoreFilesList&) = delete;

  // The list takes the record over.
  void Add(TBRNStoreFile* file);
  void Clear();
  void Assign(const TBRNStoreFilesList& other);
  void SaveToStream(TBRNMemoryStream& stream) const;
  void LoadFromStream(TBRNMemoryStream& stream);

  int32_t GetCount() const { return int32_t(Items.size()); }
  TBRNStoreFile& GetItem(int32_t index) const { return *Items.at(size_t(index)); }

 private:
  std::vector<TBRNStoreFile*> Items;
};

// An open store: files are read or written one at a time through the
// Begin, chunk calls, End or Cancel brackets.
class TBRNStoreManager : public TBRNHandleObject {
 public:
  TBRNStoreManager() = default;

  // Sets Opened.
  virtual void OpenStore(uint8_t lockType);
  // Clears Opened.
  virtual void CloseStore(bool force);
  virtual void ListFiles(const std::string& fileMask) = 0;
  // The size of the file in bytes.
  virtual int64_t BeginReadFile(const std::string& fileName) = 0;
  virtual uint32_t ReadFile(TBRNMemoryStream& target, uint32_t count) = 0;
  virtual void CancelReadFile() = 0;
  virtual void EndReadFile() = 0;
  virtual void BeginWriteFile(const std::string& fileName) = 0;
  virtual uint32_t WriteFile(TBRNMemoryStream& source, uint32_t count) = 0;
  // Abandons the file being written and deletes it.
  virtual void CancelWriteFile() = 0;
  virtual void EndWriteFile() = 0;
  virtual void CopyFile(const std::string& sourceName, const std::string& targetName) = 0;
  virtual void RenameFile(const std::string& oldName, const std::string& newName) = 0;
  virtual void DeleteFile(const std::string& fileName) = 0;
  // The file of the transfer in progress when this machine holds it and it
  // may be read or written at any position; nullptr when the transfer only
  // moves forward through ReadFile and WriteFile (a store of another
  // server). Owned by the store; valid until the transfer ends.
  virtual TBRNStream* GetTransferStream() { return nullptr; }

  bool Opened = false;
  TBRNStoreFilesList Files;
};

// What a progress bracket reports.
class TBRNProgressInfo {
 public:
  virtual ~TBRNProgressInfo() = default;
  virtual void Reset() { PercentDone = 0; }
  virtual void Complete() { PercentDone = 100; }

  int32_t PercentDone = 0;
};

// A nesting bracket around a long operation: only the outermost bracket
// reports to the sink, at most once per TimeInterval between its begin (0 %)
// and end (100 %) reports. Used by one thread at a time.
class TBRNProgress {
 public:
  // Info: a subclass's own payload; nullptr gives a plain TBRNProgressInfo.
  explicit TBRNProgress(std::unique_ptr<TBRNProgressInfo> info = nullptr);
  virtual ~TBRNProgress() = default;
  TBRNProgress(const TBRNProgress&) = delete;
  TBRNProgress& operator=(const TBRNProgress&) = delete;

  // The hooks of a concrete progress.
  virtual int32_t GetTicks() = 0;
  virtual int32_t GetElapsedTicks(int32_t startTicks, int32_t stopTicks) = 0;
  // Delivers Info to the sink; false: the user asked to stop.
  virtual bool DoProgress() = 0;
  virtual void DoStatusMessage(const std::string& text) = 0;
  virtual void DoLogMessage(const std::string& text) = 0;

  virtual void BeginProgress();
  virtual bool UpdateProgress();
  virtual bool ForceProgress();
  virtual void EndProgress();
  virtual void StatusMessage(const std::string& text, bool insideOutermost);
  virtual void LogMessage(const std::string& text);
  // Duration of the last completed outermost bracket; 0 while one is open.
  int32_t GetElapsedTime();

  int32_t TimeInterval = 1000;
  int32_t Level = 0;
  int32_t StartTicks = 0;
  int32_t LastTicks = 0;
  int32_t CurrentTicks = 0;
  int32_t EndTicks = 0;
  std::unique_ptr<TBRNProgressInfo> Info;
};

}  // namespace brn
