#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/files/memory_file_manager.h"

namespace brn::testing {

// The power went off: every call after the cut raises this.
struct PowerCut : std::runtime_error {
  PowerCut() : std::runtime_error("power cut") {}
};

class RecordingFiles;

// A memory file that remembers what a disk would: the contents as of its
// last sync, and the writes and size changes made since, which a power loss
// may or may not have let through.
class RecordingFile final : public TBRNMemoryFile {
 public:
  struct Change {
    bool Resize = false;
    int64_t Offset = 0;  // the new size of a resize
    std::vector<uint8_t> Bytes;
  };

  explicit RecordingFile(RecordingFiles* files);

  std::vector<uint8_t> Synced;
  std::vector<Change> Pending;

  int32_t Write(const void* buffer, int32_t count) override;
  void SetSize(int64_t size) override;
  void Flush() override;

  std::vector<uint8_t> Contents() {
    std::vector<uint8_t> bytes(static_cast<size_t>(Size));
    int64_t at = Position;
    Position = 0;
    if (!bytes.empty()) TBRNMemoryFile::Read(bytes.data(), int32_t(bytes.size()));
    Position = at;
    return bytes;
  }
  // The disk after a power loss: the synced contents with the pending
  // changes that keep() lets through, in their order.
  template <typename Keep>
  void LosePower(Keep keep) {
    std::vector<uint8_t> disk = Synced;
    for (const Change& change : Pending) {
      if (!keep()) continue;
      if (change.Resize) {
        disk.resize(size_t(change.Offset), 0);
      } else {
        size_t end = size_t(change.Offset) + change.Bytes.size();
        if (disk.size() < end) disk.resize(end, 0);
        std::memcpy(disk.data() + change.Offset, change.Bytes.data(), change.Bytes.size());
      }
    }
    TBRNMemoryFile::SetSize(0);
    Position = 0;
    if (!disk.empty()) TBRNMemoryFile::Write(disk.data(), int32_t(disk.size()));
    Synced = std::move(disk);
    Pending.clear();
  }

 private:
  RecordingFiles* files_;
};

// Memory files that record every write in order (Log) and simulate a power
// loss: Cut makes the call numbered CutAt and all later ones raise PowerCut,
// as if the machine stopped there; LosePower then keeps, of each file's
// changes since its last sync, the subset a random generator chooses (or
// all, or none). Single-threaded.
class RecordingFiles : public TBRNMemoryFileManager {
 public:
  struct Entry {
    std::string Name;
    bool Sync = false;
    int64_t Offset = 0;
    std::vector<uint8_t> Bytes;
  };

  RecordingFiles() : TBRNMemoryFileManager(nullptr) {}

  std::vector<Entry> Log;
  int32_t Calls = 0;
  int32_t CutAt = -1;  // the first call that fails (-1: none)
  // The write or sync numbered FailAt fails with the file error, as a full
  // or failing disk would, and the machine runs on (-1: none).
  int32_t FailAt = -1;
  std::vector<RecordingFile*> Files;

  TBRNFile* CreateFileObject() override {
    auto* file = new RecordingFile(this);
    Files.push_back(file);
    return file;
  }
  // Counts a call; true when it is the one that fails.
  bool Count() {
    ++Calls;
    if (CutAt >= 0 && Calls >= CutAt) throw PowerCut();
    return Calls == FailAt;
  }
  // mode 0 keeps every pending change, 1 none, else a random subset.
  void LosePower(int32_t mode, uint32_t seed) {
    std::mt19937 random(seed);
    for (RecordingFile* file : Files) {
      file->LosePower([&] { return mode == 0 || (mode != 1 && (random() & 1) != 0); });
    }
    CutAt = -1;
  }
};

inline RecordingFile::RecordingFile(RecordingFiles* files) : TBRNMemoryFile(files), files_(files) {}

inline int32_t RecordingFile::Write(const void* buffer, int32_t count) {
  if (files_->Count()) {
    errno = ENOSPC;
    return -1;
  }
  int64_t at = Position;
  int32_t done = TBRNMemoryFile::Write(buffer, count);
  if (done > 0) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    Pending.push_back({false, at, std::vector<uint8_t>(bytes, bytes + done)});
    files_->Log.push_back({Name, false, at, Pending.back().Bytes});
  }
  return done;
}

inline void RecordingFile::SetSize(int64_t size) {
  files_->Count();
  TBRNMemoryFile::SetSize(size);
  Pending.push_back({true, size, {}});
}

inline void RecordingFile::Flush() {
  if (files_->Count()) RaiseFlushError("Input/output error");
  TBRNMemoryFile::Flush();
  Synced = Contents();
  Pending.clear();
  files_->Log.push_back({Name, true, 0, {}});
}

}  // namespace brn::testing
