// The table-file host the storage benchmarks run their files under: the
// tests' stand-in host set up as a plain table in a folder of its own,
// created by the engine, no encryption, no log kept; the benchmark chooses
// the table's name, file extension and the locks it holds. Its Read and
// Write brackets cost what a real table's do: the outermost one locks a
// real lock file in the table's folder.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>
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
    lockName_ = Folder + Name + ".BRNLck";
    LockFd = ::open(lockName_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (LockFd < 0) throw std::runtime_error("cannot open the lock file " + lockName_);
  }
  ~BenchHost() override {
    ::close(LockFd);
    ::unlink(lockName_.c_str());
  }
  BenchHost(const BenchHost&) = delete;
  BenchHost& operator=(const BenchHost&) = delete;

 private:
  std::string lockName_;
};

}  // namespace brn
