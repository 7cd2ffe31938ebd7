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
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "foundation/files/file_manager.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/tables.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

constexpr const char* kSwapMarkExtension = ".Swap";

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

}  // namespace brn
