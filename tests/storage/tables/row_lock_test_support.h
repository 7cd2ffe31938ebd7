// Row locks seen from outside a table manager: files that count the row
// lock calls made through them, and a probe of a row's lock byte.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/files/os_file_manager.h"
#include "storage/rows/row_file.h"
#include "storage/tables/table_test_support.h"

namespace brn::testing {

// OS files that count the lock and unlock calls on row lock bytes. Each
// manager opens files of its own, so its locks contend with those of
// other managers as another process's would.
class RowLockCountingFiles : public TBRNOSFileManager {
 public:
  using TBRNOSFileManager::TBRNOSFileManager;
  int32_t LockCalls = 0;
  int32_t UnlockCalls = 0;

  TBRNFile* CreateFileObject() override { return new CountingFile(this); }

 private:
  class CountingFile : public TBRNOSFile {
   public:
    explicit CountingFile(RowLockCountingFiles* owner) : TBRNOSFile(owner), owner_(owner) {}
    bool LockRange(int64_t offset, int64_t length) override {
      if (offset >= kRowLockBase) ++owner_->LockCalls;
      return TBRNOSFile::LockRange(offset, length);
    }
    bool UnlockRange(int64_t offset, int64_t length) override {
      if (offset >= kRowLockBase) ++owner_->UnlockCalls;
      return TBRNOSFile::UnlockRange(offset, length);
    }

   private:
    RowLockCountingFiles* owner_;
  };
};

// Whether another session could lock row of table's row file now (tried
// once, released at once).
inline bool RowByteFree(TestDatabaseFiles& database, const std::string& table, int32_t row) {
  auto stream = database.Files.OpenFile(database.PathOf(table + ".BRNTbl"), false, false, true);
  int64_t offset = TBRNRowsetManager::RowLockOffset(row);
  if (!stream->SetRangeLock(true, offset, 1)) return false;
  stream->SetRangeLock(false, offset, 1);
  return true;
}

}  // namespace brn::testing
