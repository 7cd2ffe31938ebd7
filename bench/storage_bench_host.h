// The table-file host the storage benchmarks run their files under: the
// tests' stand-in host set up as a plain table in a folder of its own,
// created by the engine, no encryption, no log kept; the benchmark chooses
// the table's name, file extension and the locks it holds.
#pragma once

#include <string>
#include <utility>

#include "storage/files/fake_table_host.h"

namespace brn {

class BenchHost : public testing::FakeHost {
 public:
  BenchHost(std::string folder, std::string extension, std::string tableName = "Bench",
            bool exclusive = false, bool transaction = false)
      : FakeHost(std::move(folder), std::move(tableName), std::move(extension)) {
    StructureChecksum = 1;
    CreatedByEngine = true;
    ExclusiveLock = exclusive;
    TransactionLock = transaction;
    Record = false;
  }
};

}  // namespace brn
