#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/core/memory_stream.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/text/exception.h"
#include "storage/files/table_file_test_support.h"

namespace brn::testing {

// A table host that also records the timestamps and verification status
// lines handed to the engine and the session.
class ChainHost : public FakeHost {
 public:
  using FakeHost::FakeHost;
  std::vector<int64_t> Timestamps;
  std::vector<std::string> Statuses;

  void AdvanceTimestamp(int64_t value) override { Timestamps.push_back(value); }
  void ReportVerifyStatus(const std::string& text) override { Statuses.push_back(text); }
  std::string GetFileExtension(TBRNTableFileKind kind) const override {
    return kind == TBRNTableFileKind::Blobs ? ".BRNBlb" : ".BRNPbl";
  }
};

// A chain file known to its host (so that a cache miss asks whether the
// table changed) and closed at the end of its scope.
template <typename Manager>
class HostedFile : public Manager {
 public:
  HostedFile(FakeHost* host, TBRNFileManager* files, int32_t blockSize)
      : Manager(host, files, blockSize, 0), host_(host) {
    host->Files.push_back(this);
  }
  ~HostedFile() override {
    try {
      this->Close();
    } catch (...) {
      // A test that broke the file on purpose.
    }
    std::erase(host_->Files, this);
  }

 private:
  FakeHost* host_;
};

// size bytes that differ with the seed and the position.
inline std::vector<uint8_t> Pattern(int32_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  uint32_t x = seed * 2654435761u + 1;
  for (uint8_t& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = uint8_t(x >> 16);
  }
  return bytes;
}

inline std::vector<uint8_t> Bytes(const TBRNMemoryStream& stream) {
  const uint8_t* p = stream.GetMemory();
  return p == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(p, p + stream.GetSize());
}

// "<code> <message>" of the engine error fn raises, or "no error".
inline std::string ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EBRNException& e) {
    return std::to_string(e.ErrorCode) + " " + e.ErrorMessage;
  }
  return "no error";
}

// Overwrites bytes of a file in place.
inline void PatchFile(TBRNFileManager& files, const std::string& name, int64_t offset,
                      const std::vector<uint8_t>& bytes) {
  auto stream = files.OpenFile(name, false, false, false);
  stream->Seek(0, offset);
  stream->Write(bytes.data(), int32_t(bytes.size()));
}

inline std::vector<uint8_t> Int32Bytes(int32_t value) {
  auto u = uint32_t(value);
  return {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
}

inline int32_t Int32At(const std::vector<uint8_t>& bytes, size_t at) {
  return int32_t(uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 |
                 uint32_t(bytes[at + 2]) << 16 | uint32_t(bytes[at + 3]) << 24);
}

// The log lines of the host that name message, each with its fixed text.
inline bool Logged(const FakeHost& host, const std::string& message, bool fixed) {
  std::string wanted = "(" + message + ") - " + (fixed ? "Fixed" : "Not Fixed");
  for (const std::string& line : host.Log) {
    if (line.size() >= wanted.size() &&
        line.compare(line.size() - wanted.size(), wanted.size(), wanted) == 0) {
      return true;
    }
  }
  return false;
}

// The fixture of a chain file on disk: the table's host, files opened (or
// created) on demand and patched in place as damage would change them.
template <typename Manager>
class ChainFileTest : public ::testing::Test {
 protected:
  ChainFileTest(const std::string& tableName, const std::string& extension, int64_t headerArea)
      : host_(temp_.Path, tableName),
        name_(temp_.Path + tableName + extension),
        headerArea_(headerArea) {}

  std::unique_ptr<HostedFile<Manager>> Open(int32_t blockSize = 512, ChainHost* host = nullptr) {
    auto file =
        std::make_unique<HostedFile<Manager>>(host != nullptr ? host : &host_, &files_, blockSize);
    file->OpenOrCreate();
    return file;
  }
  const std::string& Name() const { return name_; }
  int64_t BlockAt(int32_t n, int32_t blockSize = 512) const {
    return headerArea_ + int64_t(n - 1) * blockSize;
  }
  // Overwrites bytes at offset of block (512-byte blocks).
  void Patch(int32_t block, int32_t offset, const std::vector<uint8_t>& bytes) {
    PatchFile(files_, name_, BlockAt(block) + offset, bytes);
  }

  TempFolder temp_;
  TBRNOSFileManager files_{nullptr};
  ChainHost host_;

 private:
  std::string name_;
  int64_t headerArea_;
};

// One kind of damage: bytes written at offset of block, and the message
// (nullptr: none) it leads to.
struct DamageCase {
  const char* name;
  int32_t block;
  int32_t offset;
  std::vector<uint8_t> bytes;
  const char* message;
};

}  // namespace brn::testing
