#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "authorization_test_support.h"
#include "foundation/text/exception.h"
#include "foundation/types/date_time.h"
#include "metadata/config/databases.h"
#include "metadata/config/jobs.h"
#include "metadata/config/stores.h"
#include "object_test_support.h"

namespace brn::testing {

// A configuration root with the users and roles of TestConfig plus real
// database, job and store lists, and catalog hooks that record their calls.
class ConfigRoot : public TestConfig, public TBRNCatalogHooks {
 public:
  explicit ConfigRoot(int64_t version = kNewestFormatVersion) : TestConfig(version) {
    Containers = std::make_unique<TBRNDatabaseContainers>(this);
    Jobs = std::make_unique<TBRNJobs>(this);
    Stores = std::make_unique<TBRNStores>(this);
    Containers->Owner = this;
    Jobs->Owner = this;
    Stores->Owner = this;
  }
  ~ConfigRoot() override {
    Stores.reset();
    Jobs.reset();
    Containers.reset();
  }

  std::unique_ptr<TBRNDatabaseContainers> Containers;
  std::unique_ptr<TBRNJobs> Jobs;
  std::unique_ptr<TBRNStores> Stores;
  std::vector<std::string> HookCalls;  // "readBegin DB" ...
  bool FailUpdateBegin = false;

  TBRNDatabaseContainer* AddContainer(const std::string& name, TBRNUser* owner) {
    auto* database = TBRNDatabaseContainer::CreateOwned(this, owner);
    database->Name = name;
    try {
      Containers->AddObject(database);
    } catch (...) {
      delete database;
      throw;
    }
    return database;
  }

  TBRNJob* AddJob(const std::string& name, TBRNUser* runAs) {
    auto* job = new TBRNJob(this);
    job->Name = name;
    job->SetRunAsUser(runAs);
    job->LockNumber = Jobs->Count() + 1;
    try {
      Jobs->AddObject(job);
    } catch (...) {
      delete job;
      throw;
    }
    return job;
  }

  TBRNStore* AddStore(const std::string& name, TBRNUser* owner) {
    auto* store = TBRNStore::CreateOwned(this, owner);
    store->Name = name;
    try {
      Stores->AddObject(store);
    } catch (...) {
      delete store;
      throw;
    }
    return store;
  }

  void CollectAuthorizationHolders(std::vector<TBRNConfigObjects*>& holders) override {
    TestConfig::CollectAuthorizationHolders(holders);
    holders.push_back(Containers.get());
    holders.push_back(Jobs.get());
    holders.push_back(Stores.get());
  }

  void OnCatalogReadBegin(TBRNDatabaseContainer* database) override {
    HookCalls.push_back("readBegin " + database->Name);
  }
  void OnCatalogReadEnd(TBRNDatabaseContainer* database) override {
    HookCalls.push_back("readEnd " + database->Name);
  }
  void OnCatalogUpdateBegin(TBRNDatabaseContainer* database) override {
    HookCalls.push_back("updateBegin " + database->Name);
    if (FailUpdateBegin) throw EBRNException(300, "Cannot lock the catalog");
  }
  void OnCatalogUpdateCancel(TBRNDatabaseContainer* database) override {
    HookCalls.push_back("updateCancel " + database->Name);
  }
  void OnCatalogUpdateCommit(TBRNDatabaseContainer* database) override {
    HookCalls.push_back("updateCommit " + database->Name);
  }
};

// A collection that refuses every rename, as a catalog member that cannot
// be changed.
class RefusingHolder : public TBRNConfigObjects {
 public:
  using TBRNConfigObjects::TBRNConfigObjects;
  void ReplaceReferencedName(TBRNConfigObject*, const std::string&) override {
    throw EBRNException(100, "refused");
  }
  void RemoveReferenceTo(TBRNConfigObject*) override { throw EBRNException(100, "refused"); }
};

// The catalog of an open database: one list of privileged "tables" (owners
// and grants refer to users), an optional refusing list, and the tables of
// the current transaction.
class FakeCatalog : public TBRNContainerCatalog {
 public:
  explicit FakeCatalog(TBRNConfigRoot* root)
      : Tables(std::make_unique<TestDatabases>(root)),
        Refusing(std::make_unique<RefusingHolder>(root)) {}

  std::unique_ptr<TestDatabases> Tables;
  std::unique_ptr<RefusingHolder> Refusing;
  bool Refuse = false;
  std::vector<TBRNPrivilegedConfigObject*> InTransaction;

  TestDatabase* AddTable(const std::string& name, TBRNUser* owner) {
    auto* table = new TestDatabase(Tables->Config, owner);
    table->Name = name;
    try {
      Tables->AddObject(table);
    } catch (...) {
      delete table;
      throw;
    }
    return table;
  }

  void CollectTransactionTables(std::vector<TBRNPrivilegedConfigObject*>& tables) override {
    tables.insert(tables.end(), InTransaction.begin(), InTransaction.end());
  }
  void CollectAuthorizationHolders(std::vector<TBRNConfigObjects*>& holders) override {
    holders.push_back(Tables.get());
    if (Refuse) holders.push_back(Refusing.get());
  }
  int64_t GetCatalogMemorySize() const override { return 1000; }
  int32_t GetCatalogObjectCount() const override { return 7; }
};

// A local timestamp from its parts.
inline int64_t LocalTime(int32_t year, int32_t month, int32_t day, int32_t hour = 0,
                         int32_t minute = 0, int32_t second = 0) {
  TBRNTimestampParts parts;
  parts.Year = year;
  parts.Month = month;
  parts.Day = day;
  parts.Hour = hour;
  parts.Minute = minute;
  parts.Second = second;
  int64_t ts = 0;
  EXPECT_TRUE(EncodeTimestamp(parts, ts, false));
  return ts;
}

inline int32_t DayOf(int32_t year, int32_t month, int32_t day) {
  return TimestampToDate(LocalTime(year, month, day));
}

inline int32_t TimeOf(int32_t hour, int32_t minute, int32_t second = 0) {
  return ((hour * 60 + minute) * 60 + second) * 1000;
}

// Every prefix of a valid record must raise the metadata error (100) when
// read by a fresh object from make(); returns the number of prefixes tried.
template <typename Make>
int32_t ExpectEveryCutRefused(const std::vector<uint8_t>& record, Make&& make) {
  int32_t tried = 0;
  for (size_t cut = 0; cut < record.size(); ++cut) {
    TBRNMemoryStream stream;
    if (cut > 0) stream.Write(record.data(), int32_t(cut));
    stream.SetPosition(0);
    auto object = make();
    int32_t code = -1;
    try {
      object->LoadFromStream(stream);
    } catch (const EBRNException& e) {
      code = e.ErrorCode;
    }
    EXPECT_EQ(code, 100) << "record cut at " << cut << " of " << record.size();
    ++tried;
  }
  return tried;
}

// Every record with one byte replaced by 0xFF either loads or raises the
// metadata error; nothing else escapes (and the sanitizers see no fault).
template <typename Make>
void ExpectEveryByteFlipHandled(const std::vector<uint8_t>& record, Make&& make) {
  for (size_t at = 0; at < record.size(); ++at) {
    std::vector<uint8_t> bytes = record;
    bytes[at] = 0xFF;
    TBRNMemoryStream stream;
    stream.Write(bytes.data(), int32_t(bytes.size()));
    stream.SetPosition(0);
    auto object = make();
    try {
      object->LoadFromStream(stream);
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, 100) << "byte " << at << ": " << e.ErrorMessage;
    }
  }
}

}  // namespace brn::testing
