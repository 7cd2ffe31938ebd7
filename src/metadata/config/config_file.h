#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/core/bytes.h"
#include "foundation/core/digest.h"
#include "foundation/core/memory_stream.h"

namespace brn {

class TBRNFileManager;
class TBRNFileStream;
class TBRNLockManager;
class TBRNLockableConfigObject;

// Size of the file header; the body starts right after it.
inline constexpr int32_t kConfigFileHeaderSize = 56;

// Keeps one metadata root (the configuration or a database's catalog) in one
// file, shared by sessions and processes through the root's lock file.
//
// File layout (little-endian): signature digest (16 bytes), character-set
// flag (int32, 0), encrypted flag (one byte), encryption digest (16 bytes),
// update counter (int32), reserved int32, body length (int32, a multiple of
// 8), padding up to 56, then the body: the root's stream padded to a multiple
// of 8. An encrypted file holds the 56 header bytes and the body as two
// Blowfish-CBC runs keyed with the encryption digest.
//
// Damage: the reserved int32 holds the CRC-32 register of the body bytes as
// stored (0: none, as in files of older engines), valid for the update
// counter that the writer also puts at offset 49 of the padding (so a CRC
// left behind by a writer that does not keep it is ignored). A body that
// does not match its CRC, is cut short or (without a CRC) fails to load is
// read from the backup copy instead; without a usable backup copy the read
// raises 100 naming the file. A file without a complete header (shorter
// than one, or a header of zeros) whose backup copy exists is read from the
// copy as well, or refused with 100 naming the copy when that is not
// usable. A commit never replaces a good backup copy with a damaged file.
//
// Backup copy: each rewrite first copies the file to it and flushes it, and
// a failed rewrite copies it back; so whenever the file is damaged or
// incomplete, the copy holds the last committed root. It is a file of the
// file manager in memory too, so that every session sees it.
//
// Protocol: readers hold the root's Read lock (their own byte) during a read
// bracket; one updater at a time holds the Transaction lock from BeginUpdate
// to CommitUpdate or CancelUpdate; the Write lock (the whole range) is held
// only while the file is rewritten. Every rewrite raises the update counter,
// and a session that sees it moved at its next Open, BeginRead or
// BeginUpdate reloads the root (collections merge-load, so members keep
// their identity).
//
// A manager belongs to one session and is used by one thread at a time; the
// file stream's critical section serialises the reads and writes of
// sessions of one process that share the file.
class TBRNConfigObjectManager {
 public:
  using THook = std::function<void(TBRNLockableConfigObject*)>;

  // The root, lock manager and file manager are not owned and must outlive
  // the manager.
  TBRNConfigObjectManager(TBRNLockableConfigObject* root, TBRNLockManager* lockManager,
                          TBRNFileManager* fileManager);
  virtual ~TBRNConfigObjectManager();
  TBRNConfigObjectManager(const TBRNConfigObjectManager&) = delete;
  TBRNConfigObjectManager& operator=(const TBRNConfigObjectManager&) = delete;

  TBRNLockableConfigObject* Root;
  TBRNLockManager* LockManager;
  TBRNFileManager* FileManager;
  std::string FileName;
  std::unique_ptr<TBRNFileStream> FileStream;  // nullptr while closed
  std::string BackupFileName;
  TBRNMemoryStream HeaderStream;
  int32_t BodyLength = 0;  // of the header last read or written
  TBRNMemoryStream BodyStream;
  TBRNDigest SignatureDigest;
  int32_t CharacterSetFlag = 0;
  bool Encrypted = false;
  TBRNDigest EncryptionDigest;
  bool Opened = false;
  int32_t ReadCount = 0;
  int32_t UpdateCounter = 0;
  int32_t Reserved = 0;
  bool InUpdate = false;
  THook OnLoadedOrSaved;
  THook OnBeforeLoad;
  THook OnBeforeSave;

  // true when the header was read and the body changed since; reads the body.
  // false for a Transient root.
  virtual bool CheckForChanges();
  virtual std::string GetFileName() const;
  virtual std::string GetBackupFileName() const;
  // 100 through the root: "There is an error in the metadata for the %s %s
  // (%s)".
  [[noreturn]] virtual void RaiseMetadataError(const std::string& message) const;
  // 101 "There was an error updating the %s %s (The file is read-only)".
  [[noreturn]] virtual void RaiseReadOnly() const;
  // Opens the file, or creates it when there is none. A creation that fails
  // leaves no file behind (the partly written one is deleted; a failure of
  // that delete is swallowed and the first error reported), so the next
  // open creates it afresh; an existing file is never deleted here. A file
  // of at most header size whose bytes are all zero and that has no backup
  // copy is one whose creator stopped before writing anything that counts:
  // it is made again. Any other file without a complete header is read
  // from its backup copy (see Damage above) or, without one, refused with
  // 100 naming the file and left alone.
  virtual void OpenFile();
  virtual void CloseFile();
  // The engine's signature and encryption settings, from the subclass.
  virtual void GetSignatureDigest(TBRNDigest& digest) = 0;
  // The digest matches the engine's current or default signature.
  virtual bool IsSignatureValid(const TBRNDigest& digest) = 0;
  virtual bool IsEncrypted() = 0;
  virtual void GetEncryptionDigest(TBRNDigest& digest) = 0;

  // Fills the digests and the encryption settings; the owner calls it after
  // setting the names.
  void InitializeHeader();
  void ReadHeader();
  void ValidateHeader();
  void ReadBody();
  void WriteBody();
  void WriteHeader();

  void Open();
  void Close();
  void BeginRead();
  void EndRead();
  void BeginUpdate();
  // Writes the root when it was modified (keeping the previous file as the
  // backup copy); a failed write puts the previous file back and passes the
  // error on, leaving the update open for CancelUpdate. When putting it
  // back fails too, the backup copy stays and the file reads as damaged or
  // incomplete, so readers take the copy.
  void CommitUpdate();
  void CancelUpdate();
  void MakeBackupCopy();
  void RestoreFromBackup();
  void DeleteBackup();
  // Keeps a backup copy of the open file, closes and deletes it. A failure
  // of any step reaches the caller: a failed backup copy leaves the file
  // open and in place, a failed close or delete leaves it in place with its
  // backup copy. On a file that is not open: std::logic_error, nothing done.
  void DeleteFile();

 private:
  struct THeaderFields;
  // Missing: no file; Unfinished: at most header size and all zero bytes;
  // Incomplete: otherwise shorter than a header or with a header of zeros;
  // Present: anything else.
  enum class TFileState : uint8_t { Missing, Unfinished, Incomplete, Present };

  TFileState fileState(const std::string& name);
  // Creates the file and writes the root to it, under the Write lock; the
  // caller holds the Transaction lock. A failure deletes the file again.
  void createFile(const std::string& name);

  // Parses 56 header bytes; decrypts them first when decrypt is set.
  THeaderFields parseHeader(const uint8_t* bytes, bool decrypt);
  // The header fields of a file's first bytes as this engine reads them,
  // choosing the plain or the decrypted form.
  THeaderFields readHeaderFields(const uint8_t* bytes);
  void validateFields(const THeaderFields& fields);
  // Reads length body bytes at offset 56 of stream into BodyStream; false
  // with reason when the file is too short or the CRC does not match.
  bool readBodyBytes(TBRNFileStream& stream, const THeaderFields& fields, std::string& reason);
  // Decrypts BodyStream when encrypted and loads the root from it.
  void loadRootFromBody();
  // Loads the root from the backup copy after the file's body turned out
  // damaged (reason); raises 100 naming the file when that is impossible.
  void loadFromBackup(const std::string& reason);
  // The whole backup copy; false when there is none or it cannot be read.
  bool readBackup(TBRNBytes& bytes);
  // Whether the bytes of a whole file carry a readable header and a body
  // that matches its CRC (or carries none).
  bool fileBytesLookSound(const TBRNBytes& bytes);

  uint32_t bodyChecksum_ = 0;  // of the body last written
  // The header last read came from the backup copy, and so does the body.
  bool headerFromBackup_ = false;
};

}  // namespace brn
