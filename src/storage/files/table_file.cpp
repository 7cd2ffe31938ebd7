#include "storage/files/table_file.h"

#include <algorithm>
#include <string>

#include "foundation/files/file_manager.h"
#include "foundation/locks/compression.h"
#include "foundation/runtime/interlocked.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "storage/files/table_file_guards.h"
#include "storage/files/table_file_set.h"

namespace brn {

namespace {

constexpr int32_t kCorruptCode = 601;
constexpr int32_t kFullCode = 407;
constexpr int32_t kMetadataCode = 100;
// Appended to a file's name while the file is being made.
constexpr const char* kBuildingSuffix = ".New";

}  // namespace

TBRNTableFileManager::TBRNTableFileManager(TBRNTableFileHost* host, TBRNFileManager* files)
    : host_(host), files_(files) {
  if (host == nullptr || files == nullptr) throw std::invalid_argument("table file without host");
  tableName_ = host->GetFileTableName();
}

TBRNTableFileManager::~TBRNTableFileManager() {
  // No flush here: the kind's virtual operations are gone by now. Owners
  // Close first; changes not flushed then are dropped, and a file left in
  // the middle of a flush keeps its write-in-progress flag.
  if (fileSet_ != nullptr) fileSet_->Remove(this);
  closeStream();
  freeAllBuffers();
}

std::string TBRNTableFileManager::GetFileName() const {
  return host_->GetFolder() + tableName_ + (extension_.empty() ? GetFileExtension() : extension_);
}

void TBRNTableFileManager::RaiseCorrupt(const std::string& message) const {
  throw EBRNException(kCorruptCode,
                      FormatText("The %s %s is corrupt (%s)",
                                 {host_->GetTableKindName(), host_->GetTableName(), message}));
}

void TBRNTableFileManager::RaiseMetadataError(const std::string& message) const {
  throw EBRNException(kMetadataCode,
                      FormatText("There is an error in the metadata for the %s %s (%s)",
                                 {host_->GetTableKindName(), host_->GetTableName(), message}));
}

void TBRNTableFileManager::CheckFileFull() {
  int64_t end = int64_t(GetHeaderAreaSize()) + int64_t(NextBlock) * GetBlockSize();
  if (NextBlock == INT32_MAX || end > files_->GetMaxTableFileSize()) {
    throw EBRNException(
        kFullCode, FormatText("The %s %s is full (%s)",
                              {host_->GetTableKindName(), host_->GetTableName(), GetFileName()}));
  }
}

void TBRNTableFileManager::SetFreeListHead(int32_t head) {
  if (head != FreeListHead) {
    FreeListHead = head;
    headerModified_ = true;
  }
}

void TBRNTableFileManager::AllocateBlockNumber() {
  ++NextBlock;
  headerModified_ = true;
}

void TBRNTableFileManager::ResetAccessMode() {
  access_ =
      host_->HoldsExclusiveLock() ? TBRNTableFileAccess::Exclusive : TBRNTableFileAccess::Shared;
}

void TBRNTableFileManager::ClearStatistics() {
  CacheHits = CacheMisses = DiskReads = BytesRead = DiskWrites = BytesWritten = 0;
}

void TBRNTableFileManager::ResetStatistics() {
  ClearStatistics();
  SetCacheCapacity(GetCacheCapacity());
}

void TBRNTableFileManager::InitHeader() {
  std::string extension = GetFileExtension();
  if (stream_ == nullptr) {
    extension_ = extension;
    tableName_ = host_->GetFileTableName();
  }
  Checksum = host_->GetStructureChecksum();
  EncryptedFlag = host_->IsEncrypted();
  SignatureDigest.Assign(host_->GetSignatureDigest());
  PasswordDigest.Assign(host_->GetEncryptionDigest());
  if (EncryptedFlag) {
    headerStream_.SetEncryptionKey(PasswordDigest);
    readAheadStream_.SetEncryptionKey(PasswordDigest);
    flushStream_.SetEncryptionKey(PasswordDigest);
  }
  NextBlock = 1;
  FreeListHead = 0;
  truncatePending_ = false;
  ResetAccessMode();
  ResetStatistics();
}

void TBRNTableFileManager::ReadHeaderFields(TBRNMemoryStream& stream) {
  Checksum = stream.ReadCardinal();
  SignatureDigest.LoadFromStream(stream);
  CharacterSetFlag = stream.ReadInteger();
  EncryptedFlag = stream.ReadByte() != 0;
  PasswordDigest.LoadFromStream(stream);
  ChangeCounter = stream.ReadInteger();
  FreeListHead = stream.ReadInteger();
  NextBlock = stream.ReadInteger();
  WriteInProgress = stream.ReadByte() != 0;
}

void TBRNTableFileManager::WriteHeaderFields(TBRNMemoryStream& stream, bool incrementCounter) {
  Checksum = host_->GetStructureChecksum();
  EncryptedFlag = host_->IsEncrypted();
  if (incrementCounter) IncrementCounter(ChangeCounter, 1);
  stream.WriteCardinal(Checksum);
  SignatureDigest.SaveToStream(stream);
  stream.WriteInteger(CharacterSetFlag);
  stream.WriteByte(EncryptedFlag ? 1 : 0);
  PasswordDigest.SaveToStream(stream);
  stream.WriteInteger(ChangeCounter);
  stream.WriteInteger(FreeListHead);
  stream.WriteInteger(NextBlock);
  stream.WriteByte(WriteInProgress ? 1 : 0);
}

void TBRNTableFileManager::CheckHeader() {
  if (host_->IsEncrypted()) {
    if (!EncryptedFlag) {
      RaiseMetadataError(
          "The encryption status does not match the encryption status in the configuration or "
          "catalog");
    }
    if (!PasswordDigest.Equals(host_->GetEncryptionDigest())) {
      RaiseMetadataError(
          "The encryption password does not match the default or current engine encryption "
          "password, which may be caused by the character set not matching the character set in "
          "use by the engine");
    }
  }
  if (CharacterSetFlag != 0) {
    RaiseMetadataError("The character set does not match the character set in use by the engine");
  }
  if (!host_->IsValidSignature(SignatureDigest)) {
    RaiseMetadataError("The signature does not match the default or current engine signature");
  }
  if (!host_->SkipStructureCheck() && Checksum != host_->GetStructureChecksum()) {
    RaiseMetadataError("The internal structure does not match the structure in the catalog");
  }
}

void TBRNTableFileManager::checkHeaderBounds() const {
  if (NextBlock < 1) {
    RaiseCorrupt(FormatText("Invalid total %s count (%s)",
                            {GetBlockKindName(), std::to_string(int64_t(NextBlock) - 1)}));
  }
  if (FreeListHead < 0 || FreeListHead >= NextBlock) {
    RaiseCorrupt(FormatText("Invalid free %s list pointer (%s)",
                            {GetBlockKindName(), std::to_string(FreeListHead)}));
  }
}

// A file written without encryption under a table that is now encrypted:
// its plain record names a valid signature and says "not encrypted", so it
// is read as it stands and refused for its encryption status instead of
// being deciphered into noise.
bool TBRNTableFileManager::isPlainHeader() {
  TBRNDigest signature;
  headerStream_.SetPosition(4);
  signature.LoadFromStream(headerStream_);
  headerStream_.SetPosition(24);
  return headerStream_.ReadByte() == 0 && host_->IsValidSignature(signature);
}

void TBRNTableFileManager::ReadHeader(bool check) {
  TableReadBracket bracket(host_);
  int32_t size = GetHeaderRecordSize();
  {
    TableFileHold hold(stream_.get());
    stream_->Seek(0, 0);
    headerStream_.SetSize(size);
    headerStream_.SetPosition(0);
    int32_t got = stream_->Read(headerStream_.GetMemory(), size);
    if (got < size) RaiseCorrupt("Error reading header from disk");
  }
  if (host_->IsEncrypted() && !isPlainHeader()) {
    headerStream_.SetPosition(0);
    headerStream_.Decrypt(size);
  }
  headerStream_.SetPosition(0);
  ReadHeaderFields(headerStream_);
  headerModified_ = false;
  if (check) CheckHeader();
  if (!host_->SkipWriteCheck()) {
    if (WriteInProgress) {
      throw EBRNException(kMetadataCode,
                          "A write operation did not complete and a repair is required");
    }
    if (check) checkHeaderBounds();
  }
}

void TBRNTableFileManager::writeHeaderRecord(bool incrementCounter) {
  int32_t size = GetHeaderRecordSize();
  headerStream_.SetSize(0);
  headerStream_.SetSize(size);
  headerStream_.SetPosition(0);
  WriteHeaderFields(headerStream_, incrementCounter);
  headerStream_.SetSize(size);
  if (host_->IsEncrypted()) {
    headerStream_.SetPosition(0);
    headerStream_.Encrypt(size);
  }
  stream_->Seek(0, 0);
  stream_->Write(headerStream_.GetMemory(), size);
  ++DiskWrites;
  BytesWritten += size;
}

void TBRNTableFileManager::closeStream() {
  stream_.reset();
}

// A kill while a file is being made must never leave a file under its name
// that holds less than a whole header: such a file cannot be read even by
// repair, and repair could not tell it from a real file cut short. So a file
// that outlives its streams is made complete under a building name and only
// then renamed into place; the rename never replaces a file. A kill leaves at
// most the building file, which the next creation overwrites. A Transient
// file dies with its stream and is made in place.
void TBRNTableFileManager::createNewFile() {
  bool transient = host_->IsTransient();
  bool temporary = host_->IsTemporary();
  InitHeader();
  std::string name = GetFileName();
  std::string building = transient ? name : name + kBuildingSuffix;
  stream_ = files_->CreateFile(building, true, transient, false);
  headerModified_ = true;
  try {
    Flush(!transient && !temporary);
    if (!transient) {
      closeStream();
      files_->RenameFile(building, name);
      stream_ = files_->OpenFile(name, temporary, false, false);
    }
  } catch (...) {
    closeStream();
    if (!transient) {
      try {
        if (files_->FileExists(building)) files_->DeleteFile(building);
      } catch (...) {
        // The creation's own error is the one reported; a building file
        // left behind is overwritten by the next creation.
      }
    }
    throw;
  }
  if (!files_->GetInMemory() && !transient && !temporary && !host_->IsCreatedByEngine()) {
    host_->WriteWarningEvent(FormatText(
        "The table file %s was not present on disk and was automatically created", {name}));
  }
}

void TBRNTableFileManager::OpenOrCreate() {
  if (stream_ != nullptr) return;
  InitHeader();
  if (!host_->IsTransient() && files_->FileExists(GetFileName())) {
    Open();
  } else {
    createNewFile();
  }
}

void TBRNTableFileManager::Open() {
  if (stream_ != nullptr) return;
  InitHeader();
  bool readOnly = host_->IsReadOnly();
  stream_ = files_->OpenFile(GetFileName(), false, readOnly, false);
  try {
    if (!readOnly && stream_->IsFileReadOnly()) host_->SetReadOnly();
    InitHeader();
    ReadHeader(true);
  } catch (...) {
    closeStream();
    throw;
  }
}

void TBRNTableFileManager::Close() {
  if (stream_ == nullptr) {
    DropCache(false);
    return;
  }
  if (access_ == TBRNTableFileAccess::Exclusive) Flush(false);
  closeStream();
  DropCache(false);
}

bool TBRNTableFileManager::HasChanged() {
  if (stream_ == nullptr) return false;
  TableReadBracket bracket(host_);
  int32_t held = ChangeCounter;
  // This session's header changes not flushed yet (a block appended, the
  // free list moved, a row ID taken) live only in the header held: a
  // re-read that finds no other writer keeps them.
  bool unflushed = flushNeeded();
  bool modified = false;
  TBRNMemoryStream kept;
  if (unflushed) saveHeaderFields(kept, modified);
  ReadHeader(false);
  if (ChangeCounter == held) {
    if (unflushed) restoreHeaderFields(kept, modified);
    return false;
  }
  DropCache(false);
  return true;
}

void TBRNTableFileManager::Refresh() {
  HasChanged();
  ResetAccessMode();
}

void TBRNTableFileManager::RefreshIfShared() {
  if (access_ == TBRNTableFileAccess::Shared) HasChanged();
}

void TBRNTableFileManager::BeginTransaction() {
  if (access_ == TBRNTableFileAccess::Shared) {
    HasChanged();
  } else {
    Flush(false);
  }
  access_ = TBRNTableFileAccess::InTransaction;
}

void TBRNTableFileManager::CommitTransaction(bool osFlush, bool trim) {
  Flush(osFlush);
  if (trim) TrimCache(false);
  ResetAccessMode();
}

void TBRNTableFileManager::DiscardChanges() {
  // An emptying not flushed is one of the changes: the next flush must not
  // cut the file the disk still holds.
  truncatePending_ = false;
  if (stream_ != nullptr) ReadHeader(false);
  DropCache(true);
}

void TBRNTableFileManager::RollbackTransaction() {
  DiscardChanges();
  ResetAccessMode();
}

void TBRNTableFileManager::IncrementChangeCounter() {
  if (headerModified_ || dirtyCount_ > 0) IncrementCounter(ChangeCounter, 1);
}

void TBRNTableFileManager::Empty() {
  TBRNTableFileAccess access = access_;
  DropCache(false);
  InitHeader();
  access_ = access;
  truncatePending_ = true;
  headerModified_ = true;
}

TBRNTableFileBuffer* TBRNTableFileManager::AllocateBlockBuffer(bool& restart) {
  restart = false;
  int32_t n = GetFreeOrNextBlock();
  bool fromFreeList = n != NextBlock;
  if (fromFreeList && (n < 1 || n > NextBlock)) {
    RaiseCorrupt(
        FormatText("Invalid free %s list pointer (%s)", {GetBlockKindName(), std::to_string(n)}));
  }
  TBRNTableFileBuffer* buffer = GetBuffer(n, false, 0, 0, restart);
  if (buffer == nullptr) return nullptr;
  if (fromFreeList) {
    int32_t next = buffer->NextLink;
    if (next < 0 || next >= NextBlock || next == n) {
      ReleaseBuffer(buffer);
      RaiseCorrupt(FormatText("Invalid free %s list pointer (%s)",
                              {GetBlockKindName(), std::to_string(next)}));
    }
    SetFreeListHead(next);
  }
  buffer->BlockStream.SetPosition(0);
  buffer->BlockStream.FillZeros(0);
  buffer->Reset();
  buffer->Modified = true;
  return buffer;
}

void TBRNTableFileManager::FreeBlockBuffer(TBRNTableFileBuffer* buffer) {
  buffer->SetNextLink(FreeListHead);
  SetFreeListHead(buffer->BlockNumber);
}

}  // namespace brn
