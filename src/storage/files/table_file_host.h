#pragma once

#include <cstdint>
#include <string>

namespace brn {

class TBRNDigest;

// The four files of a base table.
enum class TBRNTableFileKind : uint8_t { Rows, Indexes, Blobs, PublishedUpdates };

// What a table file needs of its table, its session and the engine. The
// table manager implements it for the files it owns (the sessions subsystem
// sits above storage); tests implement it with fakes. One table file manager
// calls its host from the session's thread only.
class TBRNTableFileHost {
 public:
  virtual ~TBRNTableFileHost() = default;

  // The table: its name, its kind word ("table", "System table", ...), the
  // folder of its files (ending with a separator) and its storage facts.
  virtual std::string GetTableName() const = 0;
  // The name its files carry in the folder. Sessions share a database's
  // folder, so working and temporary tables name their files by their
  // process-unique stored name, never by the name a session sees.
  virtual std::string GetFileTableName() const { return GetTableName(); }
  virtual std::string GetTableKindName() const = 0;
  virtual std::string GetFolder() const = 0;
  virtual uint32_t GetStructureChecksum() const = 0;
  virtual bool IsEncrypted() const = 0;
  virtual bool IsTransient() const = 0;
  virtual bool IsTemporary() const = 0;
  virtual bool IsReadOnly() const = 0;
  // The file carries the read-only attribute: the table becomes read-only.
  virtual void SetReadOnly() = 0;
  // Repair opens a file whose write was interrupted; alteration stamps a new
  // structure checksum into files that still carry the old one.
  virtual bool SkipWriteCheck() const = 0;
  virtual bool SkipStructureCheck() const = 0;
  // The engine creates the file itself (no "automatically created" warning).
  virtual bool IsCreatedByEngine() const = 0;

  // The table locks this session holds.
  virtual bool HoldsExclusiveLock() const = 0;
  virtual bool HoldsTransactionLock() const = 0;
  // The table's Read and Write brackets: counted, so that they nest. Every
  // Begin is matched by exactly one End from the same caller, also when the
  // work between them throws. A Read bracket keeps other sessions and
  // processes from writing the table's headers; a Write bracket keeps them
  // from reading or writing them.
  //
  // The Read bracket is taken once per operation, not per block: each
  // change and each BLOB or published-updates chain read holds one around
  // all the blocks it touches, so that no other writer's flush lands
  // between them, and a statement may hold one around many operations. The
  // cache itself takes it only when a block must come from the file; a
  // block found in the cache costs no bracket call.
  virtual void BeginRead() = 0;
  virtual void EndRead() = 0;
  // A deferred Read bracket (ended by EndRead) groups the reads of one
  // navigator move without taking the lock: the first Read bracket inside
  // it that goes to the files (a cache miss, a header read) takes the lock,
  // which is then held until the group ends, so a move that misses often
  // still costs one lock call and one that finds every block in the cache
  // costs none. That is sound because the cache holds only blocks of the
  // state the table had at the last change check: every miss checks again
  // under the lock, and a change found there empties the cache and restarts
  // the move, which so never mixes two states. Nested in a Read bracket
  // that holds the lock, it nests like BeginRead.
  virtual void BeginDeferredRead() { BeginRead(); }
  virtual void BeginWrite() = 0;
  virtual void EndWrite() = 0;
  // Whether another session or process changed any file of the table since
  // this session last looked; a true answer has emptied the caches of all of
  // them. Called on a cache miss, inside a Read bracket.
  virtual bool TableHasChanged() = 0;

  // The engine: signature and encryption password digests and the file
  // extension setting of each kind of file.
  virtual const TBRNDigest& GetSignatureDigest() const = 0;
  virtual bool IsValidSignature(const TBRNDigest& digest) const = 0;
  virtual const TBRNDigest& GetEncryptionDigest() const = 0;
  virtual std::string GetFileExtension(TBRNTableFileKind kind) const = 0;

  // The session: a line of the log output, a warning log event, the
  // progress of a long operation in percent (false: the user cancelled) and
  // the backup and restore errors (1300, 1301) of the database manager.
  virtual void LogMessage(const std::string& text) = 0;
  virtual void WriteWarningEvent(const std::string& text) = 0;
  virtual bool UpdateProgress(int32_t percent) = 0;
  [[noreturn]] virtual void RaiseBackupError(const std::string& text) = 0;
  [[noreturn]] virtual void RaiseRestoreError(const std::string& text) = 0;
  virtual std::string GetFixedText(bool fixed) const { return fixed ? "Fixed" : "Not Fixed"; }
  // The session's status line while a file's contents are verified.
  virtual void ReportVerifyStatus(const std::string&) {}
  // A bracket around the progress reports of one long operation (a file's
  // verification); brackets nest and every Begin is followed by one End,
  // also when the operation fails.
  virtual void BeginProgress() {}
  virtual void EndProgress() {}
  // A timestamp read from a file: the engine raises its last issued
  // timestamp to at least this value, so that timestamps never go back.
  virtual void AdvanceTimestamp(int64_t) {}
};

}  // namespace brn
