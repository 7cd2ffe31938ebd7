// The fixture of the optimisation and alteration tests: an administrator's
// session with the database Shop on disk, its status texts and log lines.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/string_list.h"
#include "sessions/maintenance/maintenance_test_support.h"

namespace brn::testing {

struct MaintenanceTest : ::testing::Test {
  void SetUp() override {
    Session->Login("Administrator", "GlenHarbor");
    Session->Events.OnStatusMessage = [this](const std::string& text) { Texts.push_back(text); };
    Session->Events.OnLogMessage = [this](const std::string& text) { Log.push_back(text); };
    TBRNDatabaseContainer* entry = AddDatabase(*Session, "Shop", Env.Folder.Path + "shop");
    entry->ApplyDefaultGrants();
    Db = Session->GetDatabaseManager(entry);
    Db->OpenDatabase(kBRNLockShared);
  }

  TBRNBaseTable* CreateTable(const std::string& name, bool withNameIndex = true) {
    TBRNBaseTable* table = Db->CreateTable(name);
    try {
      DefineTable(*Db->Catalog, table, withNameIndex);
      Db->CommitCreateTable(table);
    } catch (...) {
      Db->RollbackCreateTable(table);
      throw;
    }
    return table;
  }
  std::string TablePath(const std::string& name, const std::string& extension) {
    return Env.Folder.Path + "shop/" + name + extension;
  }
  // Every file of the database folder with its bytes.
  std::map<std::string, std::string> FolderFiles() {
    TBRNStringsList names;
    Db->FileManager->ListFiles(Env.Folder.Path + "shop/*.*", true, names);
    std::map<std::string, std::string> files;
    for (const std::string& name : names.GetItems()) {
      files[name] = ReadFileBytes(Env.Folder.Path + "shop/" + name);
    }
    return files;
  }
  // The names of the files that differ between two listings.
  static std::vector<std::string> Changed(const std::map<std::string, std::string>& before,
                                          const std::map<std::string, std::string>& after) {
    std::vector<std::string> changed;
    for (const auto& [name, bytes] : after) {
      auto old = before.find(name);
      if (old == before.end() || old->second != bytes) changed.push_back(name);
    }
    for (const auto& [name, bytes] : before) {
      if (after.count(name) == 0) changed.push_back(name + " (gone)");
    }
    return changed;
  }
  static std::vector<std::string> Names(const std::map<std::string, std::string>& files) {
    std::vector<std::string> names;
    for (const auto& entry : files) names.push_back(entry.first);
    return names;
  }
  bool Logged(const std::string& part) {
    return std::any_of(Log.begin(), Log.end(), [&](const std::string& line) {
      return line.find(part) != std::string::npos;
    });
  }

  TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
  TBRNLocalDatabaseManager* Db = nullptr;
  std::vector<std::string> Texts;
  std::vector<std::string> Log;
};

}  // namespace brn::testing
