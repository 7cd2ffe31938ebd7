#include "metadata/config/config_file.h"

#include <cstring>
#include <stdexcept>

#include "foundation/core/stream.h"
#include "foundation/files/file_manager.h"
#include "foundation/locks/lock_manager.h"
#include "foundation/runtime/interlocked.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/core/lockable_config_object.h"

namespace brn {

namespace {

// Offset of the copy of the update counter that tells which rewrite the CRC
// in the reserved field belongs to (the first padding bytes, which readers
// of the format skip).
constexpr int32_t kChecksumCounterOffset = 49;
constexpr int32_t kBodyBlockSize = 65536;

// Holds a file stream's critical section for a run of reads and writes.
class StreamHold {
 public:
  explicit StreamHold(TBRNFileStream& stream) : stream_(stream) { stream_.Acquire(); }
  ~StreamHold() { stream_.Release(); }
  StreamHold(const StreamHold&) = delete;
  StreamHold& operator=(const StreamHold&) = delete;

 private:
  TBRNFileStream& stream_;
};

// Empties a memory stream when the scope ends, also on failure.
class ClearOnExit {
 public:
  explicit ClearOnExit(TBRNMemoryStream& stream) : stream_(stream) {}
  ~ClearOnExit() {
    stream_.Clear();
    stream_.SetPosition(0);
  }
  ClearOnExit(const ClearOnExit&) = delete;
  ClearOnExit& operator=(const ClearOnExit&) = delete;

 private:
  TBRNMemoryStream& stream_;
};

// The whole contents of an open file.
TBRNBytes readWholeFile(TBRNFileStream& stream) {
  StreamHold hold(stream);
  int64_t size = stream.GetSize();
  if (size < 0 || size > INT32_MAX) throw EBRNException(100, "The file is too large");
  TBRNBytes bytes(size_t(size), 0);
  stream.SetPosition(0);
  int32_t done = size > 0 ? stream.Read(bytes.data(), int32_t(size)) : 0;
  bytes.resize(size_t(done > 0 ? done : 0));
  return bytes;
}

// Cut to nothing first, so that a copy that stops part way leaves a file
// without a complete header (read from the backup copy) or with a body cut
// short, never the body of a rewrite that was reported as failed.
void replaceFileContents(TBRNFileStream& stream, const TBRNBytes& bytes) {
  StreamHold hold(stream);
  stream.SetSize(0);
  stream.SetPosition(0);
  if (!bytes.empty()) stream.Write(bytes.data(), int32_t(bytes.size()));
  stream.Flush();
}

}  // namespace

struct TBRNConfigObjectManager::THeaderFields {
  TBRNDigest Signature;
  int32_t CharacterSet = 0;
  uint8_t EncryptedByte = 0;
  bool Encrypted = false;
  TBRNDigest Encryption;
  int32_t Counter = 0;
  int32_t Reserved = 0;
  int32_t BodyLength = 0;
  int32_t ChecksumCounter = 0;

  // The CRC in Reserved was written with this header.
  bool HasChecksum() const { return Reserved != 0 && ChecksumCounter == Counter; }
};

TBRNConfigObjectManager::TBRNConfigObjectManager(TBRNLockableConfigObject* root,
                                                 TBRNLockManager* lockManager,
                                                 TBRNFileManager* fileManager)
    : Root(root), LockManager(lockManager), FileManager(fileManager) {
  if (root == nullptr) throw std::invalid_argument("A file manager needs a root");
  BodyStream.SetBlockSize(kBodyBlockSize);
}

TBRNConfigObjectManager::~TBRNConfigObjectManager() = default;

std::string TBRNConfigObjectManager::GetFileName() const {
  return FileName;
}

std::string TBRNConfigObjectManager::GetBackupFileName() const {
  return BackupFileName;
}

void TBRNConfigObjectManager::RaiseMetadataError(const std::string& message) const {
  Root->RaiseMetadataError(message);
}

void TBRNConfigObjectManager::RaiseReadOnly() const {
  throw EBRNException(
      101, FormatText("There was an error updating the %s %s (%s)",
                      {Root->GetObjectTypeName(), Root->GetName(), "The file is read-only"}));
}

// ---------------------------------------------------------------------------
// Header

void TBRNConfigObjectManager::InitializeHeader() {
  GetSignatureDigest(SignatureDigest);
  CharacterSetFlag = 0;
  GetEncryptionDigest(EncryptionDigest);
  Encrypted = IsEncrypted();
  HeaderStream.SetSize(kConfigFileHeaderSize);
  // Keying costs nothing; the streams encrypt only when asked to.
  HeaderStream.SetEncryptionKey(EncryptionDigest);
  BodyStream.SetEncryptionKey(EncryptionDigest);
}

TBRNConfigObjectManager::THeaderFields TBRNConfigObjectManager::parseHeader(const uint8_t* bytes,
                                                                            bool decrypt) {
  HeaderStream.SetSize(kConfigFileHeaderSize);
  std::memcpy(HeaderStream.GetMemory(), bytes, kConfigFileHeaderSize);
  if (decrypt) {
    HeaderStream.SetPosition(0);
    HeaderStream.Decrypt(kConfigFileHeaderSize);
  }
  HeaderStream.SetPosition(0);
  THeaderFields fields;
  fields.Signature.LoadFromStream(HeaderStream);
  fields.CharacterSet = HeaderStream.ReadInteger();
  fields.EncryptedByte = HeaderStream.ReadByte();
  fields.Encrypted = fields.EncryptedByte != 0;
  fields.Encryption.LoadFromStream(HeaderStream);
  fields.Counter = HeaderStream.ReadInteger();
  fields.Reserved = HeaderStream.ReadInteger();
  fields.BodyLength = HeaderStream.ReadInteger();
  HeaderStream.SetPosition(kChecksumCounterOffset);
  fields.ChecksumCounter = HeaderStream.ReadInteger();
  return fields;
}

TBRNConfigObjectManager::THeaderFields TBRNConfigObjectManager::readHeaderFields(
    const uint8_t* bytes) {
  if (!IsEncrypted()) return parseHeader(bytes, false);
  THeaderFields fields = parseHeader(bytes, true);
  if (fields.EncryptedByte == 1 && fields.Encryption.Equals(EncryptionDigest)) return fields;
  // Our key does not open the header. A plain header that carries a valid
  // signature is a file written without encryption; anything else was
  // encrypted with another password.
  THeaderFields plain = parseHeader(bytes, false);
  if (plain.EncryptedByte == 0 && IsSignatureValid(plain.Signature)) return plain;
  fields.Encrypted = true;
  return fields;
}

void TBRNConfigObjectManager::validateFields(const THeaderFields& fields) {
  bool engineEncrypts = IsEncrypted();
  if (engineEncrypts != fields.Encrypted) {
    RaiseMetadataError(
        "The encryption status does not match the encryption status in the configuration or "
        "catalog");
  }
  if (engineEncrypts) {
    TBRNDigest expected;
    GetEncryptionDigest(expected);
    if (!fields.Encryption.Equals(expected)) {
      RaiseMetadataError(
          "The encryption password does not match the default or current engine encryption "
          "password, which may be caused by the character set not matching the character set "
          "in use by the engine");
    }
  }
  if (fields.CharacterSet != 0) {
    RaiseMetadataError("The character set does not match the character set in use by the engine");
  }
  if (!IsSignatureValid(fields.Signature)) {
    RaiseMetadataError("The signature does not match the default or current engine signature");
  }
}

void TBRNConfigObjectManager::ValidateHeader() {
  THeaderFields fields;
  fields.Signature.Assign(SignatureDigest);
  fields.CharacterSet = CharacterSetFlag;
  fields.Encrypted = Encrypted;
  fields.Encryption.Assign(EncryptionDigest);
  validateFields(fields);
}

void TBRNConfigObjectManager::ReadHeader() {
  if (FileStream == nullptr) throw std::logic_error("ReadHeader: the file is not open");
  uint8_t bytes[kConfigFileHeaderSize];
  int32_t done;
  {
    StreamHold hold(*FileStream);
    FileStream->SetPosition(0);
    done = FileStream->Read(bytes, kConfigFileHeaderSize);
  }
  headerFromBackup_ = false;
  // No written header is all zeros (the signature is a digest): a file
  // without a complete header is one whose creation stopped before its
  // header was written, or one that a failed rewrite left cut back.
  bool empty = true;
  for (int32_t i = 0; i < done; ++i) empty = empty && bytes[i] == 0;
  if (done != kConfigFileHeaderSize || empty) {
    std::string reason = done != kConfigFileHeaderSize
                             ? FormatText("The file %s has no complete header", {GetFileName()})
                             : FormatText("The file %s has an empty header: its creation did not "
                                          "complete",
                                          {GetFileName()});
    // The backup copy then holds the last committed root: the header and
    // later the body come from it, and the next commit rewrites the file.
    TBRNBytes backup;
    if (!readBackup(backup)) RaiseMetadataError(reason);
    if (!fileBytesLookSound(backup)) {
      RaiseMetadataError(FormatText("%s and its backup copy %s is not usable",
                                    {reason, GetBackupFileName()}));
    }
    std::memcpy(bytes, backup.data(), kConfigFileHeaderSize);
    headerFromBackup_ = true;
  }
  THeaderFields fields = readHeaderFields(bytes);
  // Checked before anything is taken over, so that the root and the
  // counters stay as they were.
  validateFields(fields);
  SignatureDigest.Assign(fields.Signature);
  CharacterSetFlag = fields.CharacterSet;
  Encrypted = fields.Encrypted;
  UpdateCounter = fields.Counter;
  Reserved = fields.Reserved;
  BodyLength = fields.BodyLength;
  bodyChecksum_ = fields.HasChecksum() ? uint32_t(fields.Reserved) : 0;
}

void TBRNConfigObjectManager::WriteHeader() {
  if (FileStream == nullptr) throw std::logic_error("WriteHeader: the file is not open");
  Encrypted = IsEncrypted();
  IncrementCounter(UpdateCounter, 1);
  Reserved = int32_t(bodyChecksum_);
  HeaderStream.SetSize(0);
  HeaderStream.SetPosition(0);
  SignatureDigest.SaveToStream(HeaderStream);
  HeaderStream.WriteInteger(CharacterSetFlag);
  HeaderStream.WriteBoolean(Encrypted);
  EncryptionDigest.SaveToStream(HeaderStream);
  HeaderStream.WriteInteger(UpdateCounter);
  HeaderStream.WriteInteger(Reserved);
  HeaderStream.WriteInteger(BodyLength);
  HeaderStream.WriteInteger(UpdateCounter);  // the rewrite the CRC belongs to
  while (HeaderStream.GetPosition() < kConfigFileHeaderSize) HeaderStream.WriteByte(0);
  if (Encrypted) {
    HeaderStream.SetPosition(0);
    HeaderStream.Encrypt(kConfigFileHeaderSize);
  }
  StreamHold hold(*FileStream);
  FileStream->SetPosition(0);
  FileStream->Write(HeaderStream.GetMemory(), kConfigFileHeaderSize);
  FileStream->Flush();
}

// ---------------------------------------------------------------------------
// Body

bool TBRNConfigObjectManager::readBodyBytes(TBRNFileStream& stream, const THeaderFields& fields,
                                            std::string& reason) {
  if (fields.BodyLength < 0 || fields.BodyLength % 8 != 0) {
    reason = FormatText("invalid body length %s", {std::to_string(fields.BodyLength)});
    return false;
  }
  int32_t done = 0;
  {
    StreamHold hold(stream);
    // Checked before the buffer is sized: the length comes from the file.
    if (stream.GetSize() - kConfigFileHeaderSize < fields.BodyLength) {
      reason = "the body is cut short";
      return false;
    }
    BodyStream.SetSize(fields.BodyLength);
    stream.SetPosition(kConfigFileHeaderSize);
    if (fields.BodyLength > 0) done = stream.Read(BodyStream.GetMemory(), fields.BodyLength);
  }
  if (done != fields.BodyLength) {
    reason = "the body is cut short";
    return false;
  }
  if (fields.HasChecksum() &&
      UpdateCRC32Register(kCRC32Start, BodyStream.GetMemory(), size_t(fields.BodyLength)) !=
          uint32_t(fields.Reserved)) {
    reason = "the body does not match its checksum";
    return false;
  }
  return true;
}

void TBRNConfigObjectManager::loadRootFromBody() {
  if (Encrypted) {
    BodyStream.SetPosition(0);
    BodyStream.Decrypt(int32_t(BodyStream.GetSize()));
  }
  BodyStream.SetPosition(0);
  if (OnBeforeLoad) OnBeforeLoad(Root);
  Root->LoadFromStream(BodyStream);
}

void TBRNConfigObjectManager::ReadBody() {
  if (FileStream == nullptr) throw std::logic_error("ReadBody: the file is not open");
  ClearOnExit clear(BodyStream);
  THeaderFields fields;
  fields.BodyLength = BodyLength;
  fields.Reserved = Reserved;
  fields.Counter = UpdateCounter;
  fields.ChecksumCounter = bodyChecksum_ != 0 ? UpdateCounter : 0;
  std::string reason;
  if (headerFromBackup_) {
    loadFromBackup("it has no complete header");
  } else if (!readBodyBytes(*FileStream, fields, reason)) {
    loadFromBackup(reason);
  } else if (fields.HasChecksum()) {
    // The body is the one that was written: its errors are real ones.
    loadRootFromBody();
  } else {
    // Without a CRC a body cut by a crash shows only as a failing load.
    try {
      loadRootFromBody();
    } catch (const EBRNException& e) {
      loadFromBackup(e.ErrorMessage);
    }
  }
  Root->Validate();
  Root->Loaded = true;
  if (OnLoadedOrSaved) OnLoadedOrSaved(Root);
}

void TBRNConfigObjectManager::loadFromBackup(const std::string& reason) {
  auto fail = [&]() {
    RaiseMetadataError(FormatText("The file %s is damaged (%s) and has no usable backup copy",
                                  {GetFileName(), reason}));
  };
  TBRNBytes bytes;
  if (!readBackup(bytes) || !fileBytesLookSound(bytes)) fail();
  THeaderFields fields = readHeaderFields(bytes.data());
  BodyStream.SetSize(fields.BodyLength);
  if (fields.BodyLength > 0) {
    std::memcpy(BodyStream.GetMemory(), bytes.data() + kConfigFileHeaderSize,
                size_t(fields.BodyLength));
  }
  bool wasEncrypted = Encrypted;
  Encrypted = fields.Encrypted;
  try {
    loadRootFromBody();
  } catch (const EBRNException&) {
    Encrypted = wasEncrypted;
    fail();
  }
  Encrypted = wasEncrypted;
}

bool TBRNConfigObjectManager::readBackup(TBRNBytes& bytes) {
  std::string backupName = GetBackupFileName();
  try {
    if (backupName.empty() || !FileManager->FileExists(backupName)) return false;
    std::unique_ptr<TBRNFileStream> backup = FileManager->OpenFile(backupName, false, true, false);
    bytes = readWholeFile(*backup);
  } catch (const EBRNException&) {
    return false;
  }
  return true;
}

bool TBRNConfigObjectManager::fileBytesLookSound(const TBRNBytes& bytes) {
  if (bytes.size() < size_t(kConfigFileHeaderSize)) return false;
  THeaderFields fields = readHeaderFields(bytes.data());
  try {
    validateFields(fields);
  } catch (const EBRNException&) {
    return false;
  }
  if (fields.BodyLength < 0 || fields.BodyLength % 8 != 0 ||
      int64_t(bytes.size()) - kConfigFileHeaderSize < fields.BodyLength) {
    return false;
  }
  return !fields.HasChecksum() ||
         UpdateCRC32Register(kCRC32Start, bytes.data() + kConfigFileHeaderSize,
                             size_t(fields.BodyLength)) == uint32_t(fields.Reserved);
}

void TBRNConfigObjectManager::WriteBody() {
  if (FileStream == nullptr) throw std::logic_error("WriteBody: the file is not open");
  ClearOnExit clear(BodyStream);
  if (OnBeforeSave) OnBeforeSave(Root);
  BodyStream.Clear();
  BodyStream.SetPosition(0);
  Root->SaveToStream(BodyStream, false);
  if (OnLoadedOrSaved) OnLoadedOrSaved(Root);
  int64_t size = BodyStream.GetSize();
  BodyStream.SetPosition(size);
  for (int64_t pad = (8 - size % 8) % 8; pad > 0; --pad) BodyStream.WriteByte(0);
  BodyLength = int32_t(BodyStream.GetSize());
  Encrypted = IsEncrypted();
  if (Encrypted) {
    BodyStream.SetPosition(0);
    BodyStream.Encrypt(BodyLength);
  }
  bodyChecksum_ = UpdateCRC32Register(kCRC32Start, BodyStream.GetMemory(), size_t(BodyLength));
  StreamHold hold(*FileStream);
  FileStream->SetSize(kConfigFileHeaderSize);
  FileStream->SetPosition(kConfigFileHeaderSize);
  if (BodyLength > 0) FileStream->Write(BodyStream.GetMemory(), BodyLength);
}

// ---------------------------------------------------------------------------
// Opening, reading and updating

bool TBRNConfigObjectManager::CheckForChanges() {
  if (Root->GetTransient()) return false;
  int32_t previous = UpdateCounter;
  ReadHeader();
  if (UpdateCounter == previous) return false;
  try {
    ReadBody();
  } catch (...) {
    // The next read tries again instead of trusting a half-loaded root.
    UpdateCounter = 0;
    throw;
  }
  return true;
}

TBRNConfigObjectManager::TFileState TBRNConfigObjectManager::fileState(const std::string& name) {
  if (!FileManager->FileExists(name)) return TFileState::Missing;
  uint8_t bytes[kConfigFileHeaderSize];
  int32_t done = 0;
  int64_t size = 0;
  {
    std::unique_ptr<TBRNFileStream> stream = FileManager->OpenFile(name, false, true, false);
    StreamHold hold(*stream);
    size = stream->GetSize();
    stream->SetPosition(0);
    done = stream->Read(bytes, kConfigFileHeaderSize);
  }
  bool zero = true;
  for (int32_t i = 0; i < done; ++i) zero = zero && bytes[i] == 0;
  if (zero && size <= kConfigFileHeaderSize) return TFileState::Unfinished;
  if (zero || done < kConfigFileHeaderSize) return TFileState::Incomplete;
  return TFileState::Present;
}

void TBRNConfigObjectManager::createFile(const std::string& name) {
  LockManager->LockObject(Root, ltWrite, -1);
  try {
    FileStream = FileManager->CreateFile(name, false, false, false);
    try {
      WriteBody();
      WriteHeader();
    } catch (...) {
      // Left behind, the empty header would make every later open fail;
      // without the file the next open creates it afresh. The first error
      // is the one reported.
      FileStream.reset();
      try {
        FileManager->DeleteFile(name);
      } catch (...) {
      }
      throw;
    }
  } catch (...) {
    LockManager->UnlockObject(Root, ltWrite);
    throw;
  }
  LockManager->UnlockObject(Root, ltWrite);
}

void TBRNConfigObjectManager::OpenFile() {
  if (Root->GetTransient()) return;
  std::string name = GetFileName();
  auto openExisting = [&]() {
    FileStream = FileManager->OpenFile(name, false, false, false);
    if (!Root->GetReadOnly() && FileStream->IsFileReadOnly()) Root->SetReadOnly(true);
    BeginRead();
    EndRead();
  };
  try {
    // Looked at without a lock: a file that a creator is still writing, or
    // that vanishes meanwhile, is looked at again under the lock.
    bool present = false;
    try {
      present = fileState(name) == TFileState::Present;
    } catch (const EBRNException&) {
    }
    if (present) {
      openExisting();
      return;
    }
    // Only one session or process creates the file: the others wait for
    // the Transaction lock and then find it.
    LockManager->LockObject(Root, ltTransaction, -1);
    try {
      TFileState state = fileState(name);
      // An unfinished file is made again only when no backup copy says that
      // it once held a root: with one, reading takes the root from the copy
      // (or names the copy when it is not usable).
      if (state == TFileState::Missing ||
          (state == TFileState::Unfinished && !FileManager->FileExists(GetBackupFileName()))) {
        createFile(name);
      } else {
        openExisting();
      }
    } catch (...) {
      LockManager->UnlockObject(Root, ltTransaction);
      throw;
    }
    LockManager->UnlockObject(Root, ltTransaction);
  } catch (...) {
    FileStream.reset();
    UpdateCounter = 0;
    throw;
  }
}

void TBRNConfigObjectManager::CloseFile() {
  FileStream.reset();
}

void TBRNConfigObjectManager::Open() {
  if (Opened) {
    BeginRead();
    EndRead();
    return;
  }
  OpenFile();
  Opened = true;
}

void TBRNConfigObjectManager::Close() {
  if (!Opened) return;
  CloseFile();
  Opened = false;
}

void TBRNConfigObjectManager::BeginRead() {
  bool taken = LockManager->LockObject(Root, ltRead, -1);
  ++ReadCount;
  if (taken || BodyLength == 0) {
    try {
      CheckForChanges();
    } catch (...) {
      --ReadCount;
      if (taken) LockManager->UnlockObject(Root, ltRead);
      throw;
    }
  }
  Root->SetModified(false);
}

void TBRNConfigObjectManager::EndRead() {
  if (ReadCount <= 0) return;
  --ReadCount;
  if (ReadCount == 0) LockManager->UnlockObject(Root, ltRead);
}

void TBRNConfigObjectManager::BeginUpdate() {
  if (Root->GetReadOnly()) RaiseReadOnly();
  if (InUpdate) return;
  LockManager->LockObject(Root, ltTransaction, -1);
  try {
    CheckForChanges();
  } catch (...) {
    LockManager->UnlockObject(Root, ltTransaction);
    throw;
  }
  Root->SetModified(false);
  InUpdate = true;
}

void TBRNConfigObjectManager::CommitUpdate() {
  if (!InUpdate) return;
  if (Root->GetModified() && !Root->GetTransient()) {
    LockManager->LockObject(Root, ltWrite, -1);
    try {
      MakeBackupCopy();
      try {
        WriteBody();
        WriteHeader();
      } catch (...) {
        // The previous file goes back; the first error is the one reported.
        // Writing the stream cleared the root's modified flag: set again,
        // it makes CancelUpdate reload the root from the restored file.
        Root->SetModified(true);
        try {
          RestoreFromBackup();
          DeleteBackup();
        } catch (...) {
        }
        throw;
      }
    } catch (...) {
      LockManager->UnlockObject(Root, ltWrite);
      throw;
    }
    LockManager->UnlockObject(Root, ltWrite);
  }
  Root->ResetAllLinks();
  LockManager->UnlockObject(Root, ltTransaction);
  InUpdate = false;
}

void TBRNConfigObjectManager::CancelUpdate() {
  if (!InUpdate) return;
  try {
    if (Root->GetModified() && !Root->GetTransient()) {
      ReadHeader();
      ReadBody();
    } else {
      Root->ResetAllLinks();
    }
  } catch (...) {
    LockManager->UnlockObject(Root, ltTransaction);
    InUpdate = false;
    throw;
  }
  LockManager->UnlockObject(Root, ltTransaction);
  InUpdate = false;
}

// ---------------------------------------------------------------------------
// Backup copy

void TBRNConfigObjectManager::MakeBackupCopy() {
  if (FileStream == nullptr) throw std::logic_error("MakeBackupCopy: the file is not open");
  TBRNBytes bytes = readWholeFile(*FileStream);
  if (!fileBytesLookSound(bytes)) {
    // A damaged file never replaces a backup copy that may still be good.
    if (FileManager->FileExists(GetBackupFileName())) return;
  }
  // The copy is complete and flushed before the file is touched.
  std::unique_ptr<TBRNFileStream> backup =
      FileManager->CreateFile(GetBackupFileName(), true, false, false);
  if (!bytes.empty()) backup->Write(bytes.data(), int32_t(bytes.size()));
  backup->Flush();
}

void TBRNConfigObjectManager::RestoreFromBackup() {
  if (FileStream == nullptr) return;
  std::string backupName = GetBackupFileName();
  if (!FileManager->FileExists(backupName)) return;
  TBRNBytes bytes;
  {
    std::unique_ptr<TBRNFileStream> backup = FileManager->OpenFile(backupName, true, true, false);
    bytes = readWholeFile(*backup);
  }
  replaceFileContents(*FileStream, bytes);
}

void TBRNConfigObjectManager::DeleteBackup() {
  std::string backupName = GetBackupFileName();
  if (FileManager->FileExists(backupName)) FileManager->DeleteFile(backupName);
}

void TBRNConfigObjectManager::DeleteFile() {
  if (Root->GetTransient()) return;
  // Each step's failure reaches the caller and stops the steps after it: a
  // file without its backup copy is not deleted.
  MakeBackupCopy();
  Close();
  FileManager->DeleteFile(GetFileName());
}

}  // namespace brn
