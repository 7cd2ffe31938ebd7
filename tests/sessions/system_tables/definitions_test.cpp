// The definitions of the system tables, each compared with its golden file:
// columns with their types, lengths and collations, the internal row
// identifier and primary key, the plain indexes and their names, the
// storage settings and the flags. The golden files are written by hand from
// the tables' documented shapes, one file per family, so a definition that drifts
// from its documented shape fails here.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/types/data_types.h"
#include "sessions/system_tables/information_test_support.h"

namespace brn::testing {
namespace {

const char* boolText(bool value) {
  return value ? "TRUE" : "FALSE";
}

std::string indexTypeName(int32_t type) {
  switch (type) {
    case kIndexOrdinary:
      return "Index";
    case kIndexPrimaryKey:
      return "Primary Key";
    case kIndexForeignKey:
      return "Foreign Key";
    case kIndexUnique:
      return "Unique";
    case kIndexText:
      return "Text Index";
    default:
      return "type " + std::to_string(type);
  }
}

std::string constraintTypeName(int32_t type) {
  switch (type) {
    case kConstraintPrimaryKey:
      return "Primary Key";
    case kConstraintForeignKey:
      return "Foreign Key";
    case kConstraintUnique:
      return "Unique";
    case kConstraintCheck:
      return "Check";
    default:
      return "type " + std::to_string(type);
  }
}

// The definition of a completed system table in the golden files' form.
std::string Describe(TBRNLocalSessionManager& session, const std::string& family,
                     TBRNBaseTable* table) {
  std::ostringstream out;
  out << "table " << table->Name << "\n";
  out << "family " << family << "\n";
  out << "flags";
  if (table->System) out << " System";
  if (table->ReadOnly) out << " ReadOnly";
  if (table->Transient) out << " Transient";
  out << "\n";
  out << "storage IndexPageSize " << table->IndexPageSize << "\n";
  out << "storage BlobBlockSize " << table->BlobBlockSize << "\n";
  out << "storage PublishBlockSize " << table->PublishBlockSize << "\n";
  out << "storage MaxRowBufferSize " << table->MaxRowBufferSize << "\n";
  out << "storage MaxIndexBufferSize " << table->MaxIndexBufferSize << "\n";
  out << "storage MaxBlobBufferSize " << table->MaxBlobBufferSize << "\n";
  out << "storage MaxPublishBufferSize " << table->MaxPublishBufferSize << "\n";
  out << "storage Encrypted " << boolText(table->Encrypted) << "\n";
  out << "storage Published " << boolText(table->Published) << "\n";
  TBRNColumns* columns = table->Columns.get();
  for (int32_t i = 0; i < columns->Count(); ++i) {
    TBRNColumn* column = columns->GetItem(i);
    const auto type = static_cast<TBRNDataTypeCode>(column->DataType);
    const auto sub = static_cast<TBRNDataSubType>(column->SubType);
    out << "column " << i << " " << column->Name << " "
        << DataTypeDefinition(type, sub, column->Length, column->Scale);
    if (IsTextDataType(type, sub)) {
      std::string collation;
      session.GetCollationName(column->Collation, collation);
      out << " " << collation;
    }
    if (column->NotNull) out << " notnull";
    if (column->Internal) out << " internal";
    out << "\n";
  }
  auto columnList = [](auto* entries) {
    std::string list;
    for (int32_t j = 0; j < entries->Count(); ++j) {
      if (j > 0) list += ", ";
      list += entries->GetItem(j)->GetColumn()->Name;
      if constexpr (requires { entries->GetItem(j)->Descending; }) {
        if (entries->GetItem(j)->Descending) list += " DESC";
      }
    }
    return "(" + list + ")";
  };
  TBRNConstraints* constraints = table->Constraints.get();
  for (int32_t i = 0; i < constraints->Count(); ++i) {
    auto* constraint = static_cast<TBRNConstraint*>(constraints->GetItem(i));
    out << "constraint " << constraint->Name << " "
        << constraintTypeName(constraint->ConstraintType)
        << (constraint->Internal ? " internal " : " ") << columnList(constraint->Columns.get());
    if (TBRNIndex* index = constraint->GetEnforcingIndex()) out << " index " << index->Name;
    out << "\n";
  }
  TBRNIndexes* indexes = table->Indexes.get();
  for (int32_t i = 0; i < indexes->Count(); ++i) {
    TBRNIndex* index = indexes->GetItem(i);
    out << "index " << index->Name << " " << indexTypeName(index->IndexType)
        << (index->Internal ? " internal " : " ") << columnList(index->Columns.get()) << "\n";
  }
  return out.str();
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The golden definitions by table name, and each one's family. A golden
// file holds the definitions of one family, each starting at a "table"
// line, separated by blank lines.
struct Golden {
  std::string Family;
  std::string Text;
};

std::map<std::string, Golden> LoadGoldens() {
  std::map<std::string, Golden> goldens;
  for (const auto& entry : std::filesystem::directory_iterator(BRN_SYSTEM_TABLE_GOLDEN)) {
    if (entry.path().extension() != ".txt") continue;
    std::istringstream lines(ReadFile(entry.path()));
    std::string name;
    Golden golden;
    auto keep = [&] {
      if (!name.empty()) goldens.emplace(name, golden);
      name.clear();
      golden = Golden();
    };
    for (std::string line; std::getline(lines, line);) {
      if (line.empty()) {
        keep();
        continue;
      }
      if (line.rfind("table ", 0) == 0) name = line.substr(6);
      if (line.rfind("family ", 0) == 0) golden.Family = line.substr(7);
      golden.Text += line + "\n";
    }
    keep();
  }
  return goldens;
}

struct SystemTableDefinitionTest : ::testing::Test {
  SystemTableDefinitionTest() {
    Session->OpenSession("host", "Tester", "");
    Session->Login("Administrator", "GlenHarbor");
    AddDatabase(*Session, "Shop", Env.Folder.Path + "shop")->ApplyDefaultGrants();
    Shop = InformationTableTest::Open(*Session);
  }

  // The registered tables of family: name to table.
  TBRNBaseTables* Collection(const std::string& family) {
    return family == "Configuration"
               ? Session->ConfigurationDatabase->Catalog->DefaultSchema->BaseTables.get()
               : Shop->Catalog->InformationSchema->BaseTables.get();
  }
  std::map<std::string, TBRNBaseTable*> Registered(const std::string& family) {
    TBRNBaseTables* tables = Collection(family);
    std::map<std::string, TBRNBaseTable*> result;
    for (int32_t i = 0; i < tables->Count(); ++i)
      result.emplace(tables->GetTable(i)->Name, tables->GetTable(i));
    return result;
  }

  TestEngine Env;
  std::unique_ptr<ConfigurationTablesSession> Session =
      std::make_unique<ConfigurationTablesSession>(&Env.Engine);
  TBRNLocalDatabaseManager* Shop = nullptr;
};

TEST_F(SystemTableDefinitionTest, EveryDefinitionMatchesItsGoldenDefinition) {
  const std::map<std::string, Golden> goldens = LoadGoldens();
  ASSERT_EQ(goldens.size(), 60u);
  std::map<std::string, int32_t> perFamily;
  std::vector<std::string> missing;
  for (const auto& [name, golden] : goldens) {
    SCOPED_TRACE(name);
    ++perFamily[golden.Family];
    std::map<std::string, TBRNBaseTable*> registered = Registered(golden.Family);
    auto found = registered.find(name);
    if (found == registered.end()) {
      missing.push_back(name);
      continue;
    }
    // The lookup a statement makes defines the table.
    TBRNBaseTable* table = found->second;
    ASSERT_EQ(Collection(golden.Family)->FindByNameForUser(name, nullptr, false), table);
    ASSERT_TRUE(table->DefinitionComplete);
    EXPECT_EQ(Describe(*Session, golden.Family, table), golden.Text);
  }
  EXPECT_EQ(perFamily["Configuration"], 27);
  EXPECT_EQ(perFamily["Information"], 33);
  std::string list;
  for (const std::string& name : missing) list += " " + name;
  EXPECT_TRUE(missing.empty()) << "Not registered:" << list;
}

TEST_F(SystemTableDefinitionTest, EveryRegisteredTableHasAGoldenDefinition) {
  const std::map<std::string, Golden> goldens = LoadGoldens();
  for (const char* family : {"Configuration", "Information"}) {
    for (const auto& [name, table] : Registered(family)) {
      SCOPED_TRACE(name);
      auto golden = goldens.find(name);
      ASSERT_NE(golden, goldens.end());
      EXPECT_EQ(golden->second.Family, family);
    }
  }
}

}  // namespace
}  // namespace brn::testing
