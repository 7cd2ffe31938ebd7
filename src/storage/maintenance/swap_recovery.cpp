// The open-time repair of a file swap (OPTIMIZE, ALTER TABLE) that a crash
// cut short.
//
// A swap first makes its mark durable, deletes every ".Old" copy of the
// table, then renames the selected files to their ".Old" copies (or copies
// the files it stamps with a new checksum), then renames the working
// copy's files to the table's names; an ALTER commits the catalog after
// that, and the mark goes last. So while the mark exists any ".Old" copy
// present belongs to this swap, and:
//   - a file in use missing: the swap stopped halfway; the ".Old" copies
//     are the table's files as the catalog knows them;
//   - every file present, but their structure checksum not the catalog's:
//     the swap ended and the catalog commit did not happen.
// In both cases putting every ".Old" copy back gives the table as it was.
//
// RENAME TABLE moves the files from one name to the other without copies:
// a mark beside each name holds the other, so that the open under either
// name (the one the catalog holds) can gather the files that a crash left
// under the other name.
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "foundation/files/file_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

constexpr const char* kSwapMarkExtension = ".Swap";
constexpr const char* kRenameMarkExtension = ".Rename";
// A rename mark holds a length and that many name bytes; longer is damage.
constexpr int32_t kMaxRenameMarkName = 1024;

// The name a rename mark holds; empty when the mark is missing or
// incomplete (a crash while it was written, before any file moved).
std::string readRenameMark(TBRNFileManager& files, const std::string& markName) {
  if (!files.FileExists(markName)) return {};
  std::unique_ptr<TBRNFileStream> mark = files.OpenFile(markName, false, true, false);
  const int64_t size = mark->GetSize();
  if (size < 4 || size > 4 + kMaxRenameMarkName) return {};
  int32_t length = 0;
  mark->ReadLongInt(length);
  if (length <= 0 || int64_t(length) != size - 4) return {};
  std::string name(size_t(length), '\0');
  mark->Read(name.data(), length);
  return name;
}

void writeRenameMark(TBRNFileManager& files, const std::string& markName,
                     const std::string& otherName) {
  if (otherName.empty() || otherName.size() > size_t(kMaxRenameMarkName)) {
    throw std::invalid_argument("A rename mark needs a table name");
  }
  std::unique_ptr<TBRNFileStream> mark = files.CreateFile(markName, false, false, false);
  mark->WriteLongInt(int32_t(otherName.size()));
  mark->Write(otherName.data(), int32_t(otherName.size()));
  mark->Flush();
}

}  // namespace

void TBRNTableManager::BeginFileSwap() {
  std::unique_ptr<TBRNFileStream> mark = GetFileManager()->CreateFile(
      fileNameOf(TBRNTableFileKind::Rows) + kSwapMarkExtension, false, false, false);
  mark->Flush();
}

void TBRNTableManager::EndFileSwap() {
  const std::string name = fileNameOf(TBRNTableFileKind::Rows) + kSwapMarkExtension;
  TBRNFileManager* manager = GetFileManager();
  if (manager->FileExists(name)) manager->DeleteFile(name);
}

bool TBRNTableManager::FileSwapPending() {
  return GetFileManager()->FileExists(fileNameOf(TBRNTableFileKind::Rows) + kSwapMarkExtension);
}

bool TBRNTableManager::RecoverInterruptedSwap(bool Mismatch) {
  if (!files.empty()) throw std::logic_error("RecoverInterruptedSwap on an open table manager");
  if (!FileSwapPending()) return false;
  TBRNFileManager* manager = GetFileManager();
  uint8_t withCopy = 0;
  bool missing = false;
  for (auto [kind, bit] :
       {std::pair{TBRNTableFileKind::Rows, kTableFileRows},
        std::pair{TBRNTableFileKind::Indexes, kTableFileIndexes},
        std::pair{TBRNTableFileKind::Blobs, kTableFileBlobs},
        std::pair{TBRNTableFileKind::PublishedUpdates, kTableFilePublishedUpdates}}) {
    if (kind == TBRNTableFileKind::Blobs && !UsesBlobFile()) continue;
    if (kind == TBRNTableFileKind::PublishedUpdates && !UsesPublishedUpdatesFile()) continue;
    const std::string name = fileNameOf(kind);
    if (manager->FileExists(name + ".Old")) withCopy = uint8_t(withCopy | bit);
    if (!manager->FileExists(name)) missing = true;
  }
  if (withCopy == 0 || (!missing && !Mismatch)) return false;
  // Only files with a copy are put back: RestoreOldCopies deletes a file
  // whose copy is missing.
  RestoreOldCopies(true, withCopy);
  EndFileSwap();
  WriteWarningEvent(
      FormatText("The files of the %s %s were put back from their previous copies (.Old) after an "
                 "interrupted file swap",
                 {GetTableKindName(), GetTableName()}));
  return true;
}

std::string TBRNTableManager::renameMarkOf(const std::string& TableName) const {
  return GetFolder() + TableName + GetFileExtension(TBRNTableFileKind::Rows) + kRenameMarkExtension;
}

void TBRNTableManager::BeginFileRename(const std::string& NewName) {
  TBRNFileManager& manager = *GetFileManager();
  writeRenameMark(manager, renameMarkOf(GetTableName()), NewName);
  writeRenameMark(manager, renameMarkOf(NewName), GetTableName());
}

void TBRNTableManager::EndFileRename(const std::string& OtherName) {
  TBRNFileManager& manager = *GetFileManager();
  const std::string other = renameMarkOf(OtherName);
  // The other name's mark may belong to a later rename to or from it.
  if (manager.FileExists(other)) {
    const std::string named = readRenameMark(manager, other);
    if (named.empty() || TextEqualsIgnoreCase(named, GetTableName())) manager.DeleteFile(other);
  }
  const std::string own = renameMarkOf(GetTableName());
  if (manager.FileExists(own)) manager.DeleteFile(own);
}

bool TBRNTableManager::FileRenamePending() {
  return GetFileManager()->FileExists(renameMarkOf(GetTableName()));
}

std::string TBRNTableManager::RenameMarkPartner(const std::string& TableName) {
  return readRenameMark(*GetFileManager(), renameMarkOf(TableName));
}

bool TBRNTableManager::RecoverInterruptedRename() {
  TBRNFileManager& manager = *GetFileManager();
  const std::string own = renameMarkOf(GetTableName());
  if (!manager.FileExists(own)) return false;
  const std::string other = readRenameMark(manager, own);
  if (other.empty()) {
    // Written no further than its mark: no file moved.
    manager.DeleteFile(own);
    return false;
  }
  TBRNSchema* schema = GetBaseTable()->GetSchema();
  if (schema != nullptr) {
    TBRNConfigObject* holder = schema->BaseTables->FindByName(other, false);
    if (holder != nullptr && holder != GetBaseTable()) return false;
  }
  bool moved = false;
  for (TBRNTableFileKind kind : kindsInUse()) {
    const std::string name = fileNameOf(kind);
    const std::string from = GetFolder() + other + GetFileExtension(kind);
    if (!manager.FileExists(name) && manager.FileExists(from)) {
      manager.RenameFile(from, name);
      moved = true;
    }
  }
  EndFileRename(other);
  if (moved) {
    WriteWarningEvent(FormatText(
        "The files of the %s %s left under the name %s by an interrupted rename were moved "
        "back under its name",
        {GetTableKindName(), GetTableName(), other}));
  }
  return moved;
}

}  // namespace brn
