// Backup and update files built byte by byte, and a logged-in session of an
// engine whose configuration folder is a fresh temporary folder.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/core/digest.h"
#include "foundation/file_test_support.h"
#include "metadata/config/config.h"
#include "metadata/config/stores.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn::testing {

// Little-endian fields appended to a byte string.
class HeaderBytes {
 public:
  HeaderBytes& Int32(int32_t value) { return raw(&value, sizeof value); }
  HeaderBytes& UInt32(uint32_t value) { return raw(&value, sizeof value); }
  HeaderBytes& Int64(int64_t value) { return raw(&value, sizeof value); }
  HeaderBytes& Byte(uint8_t value) { return raw(&value, sizeof value); }
  HeaderBytes& String(const std::string& value) {
    Int32(int32_t(value.size()));
    return raw(value.data(), value.size());
  }
  HeaderBytes& Bytes(const std::string& value) { return raw(value.data(), value.size()); }
  const std::string& Text() const { return bytes_; }
  // The header length, then the header.
  std::string WithLength() const {
    HeaderBytes file;
    file.Int32(int32_t(bytes_.size()));
    return file.Bytes(bytes_).Text();
  }

 private:
  HeaderBytes& raw(const void* data, size_t size) {
    bytes_.append(static_cast<const char*>(data), size);
    return *this;
  }
  std::string bytes_;
};

inline std::string SignatureBytes(const std::string& signature = kBRNDefaultSignature) {
  TBRNDigest digest;
  digest.DigestString(signature);
  return std::string(digest.Digest.begin(), digest.Digest.end());
}

struct HeaderTable {
  std::string Name;
  int64_t Size;
};

// A backup file: header (with a catalog of version catalogVersion when
// catalogVersion > 0) and some table data after it.
inline std::string BackupFile(const std::vector<HeaderTable>& tables, int64_t catalogVersion = 0,
                              int32_t claimedTables = -1,
                              const std::string& signature = kBRNDefaultSignature) {
  HeaderBytes header;
  header.Bytes(SignatureBytes(signature))
      .String("Nightly")
      .String("Sales")
      .String("/data/sales")
      .Int64(1234567890)
      .String("Administrator")
      .Int32(6)
      .Byte(catalogVersion > 0 ? 1 : 0);
  if (catalogVersion > 0)
    header.Int32(8 + 5).Int64(catalogVersion).Bytes("CATLG");
  else
    header.Int32(0);
  header.Int32(claimedTables >= 0 ? claimedTables : int32_t(tables.size()));
  for (const HeaderTable& table : tables)
    header.String(table.Name).UInt32(0xCAFE).Int64(4096).Int64(table.Size);
  return header.WithLength() + std::string(64, '\x5A');
}

inline std::string UpdateFile(const std::vector<HeaderTable>& tables) {
  HeaderBytes header;
  header.Bytes(SignatureBytes())
      .String("Weekly")
      .String("Sales")
      .String("")
      .Int64(987654321)
      .String("Clerk")
      .Int32(0)
      .Int32(int32_t(tables.size()));
  for (const HeaderTable& table : tables) header.String(table.Name).Int64(100).Int64(table.Size);
  return header.WithLength() + std::string(32, '\x11');
}

// An engine whose configuration lies in a fresh temporary folder, and a
// session of it logged in as the Administrator.
class StoreSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.Settings->SetConfigPath(folder.Path);
    session = OpenLoggedIn();
  }

  virtual std::unique_ptr<TBRNLocalSessionManager> NewSession() {
    return std::make_unique<TBRNLocalSessionManager>(&engine, false, false);
  }

  std::unique_ptr<TBRNLocalSessionManager> OpenLoggedIn(
      const std::string& user = "Administrator", const std::string& password = "GlenHarbor") {
    std::unique_ptr<TBRNLocalSessionManager> opened = NewSession();
    opened->OpenSession("host", "Tester", "");
    opened->Login(user, password);
    return opened;
  }

  // A local store whose folder is path (relative: in the configuration
  // folder), made through CREATE STORE.
  TBRNStore* CreateStore(const std::string& name, const std::string& path,
                         int32_t type = kLocalStore) {
    TBRNStore* store = session->BeginCreateStore(name);
    store->SetStoreType(type);
    store->SetPath(path);
    session->EndCreateStore(store);
    return store;
  }

  std::string StoreFile(const std::string& path, const std::string& name) const {
    return folder / (path + "/" + name);
  }

  TempDirectory folder;
  TBRNEngineManager engine;
  std::unique_ptr<TBRNLocalSessionManager> session;
};

}  // namespace brn::testing
