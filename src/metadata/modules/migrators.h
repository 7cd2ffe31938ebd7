#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "metadata/core/config_objects.h"
#include "metadata/modules/module.h"
#include "metadata/modules/module_bound_object.h"

namespace brn {

class TBRNParamValues;
class TBRNStringsList;

// A migrator: brings the objects and rows of another database in through a
// migrator module, bound by name. The module answers with SQL text: which
// objects exist, the CREATE statement of each and INSERT statements for the
// rows. Params are the module's own migration parameters; they are not
// stored and come from the module again after every load.
//
// Every call below opens the module instance first when none is open; Close
// (also run by the destructor) closes it and releases the module.
//
// Stored record: the base record, then ModuleName (int32 length and bytes).
//
// Used by the thread of the session that owns the root.
class TBRNMigrator : public TBRNModuleBoundObject {
 public:
  explicit TBRNMigrator(TBRNConfigRoot* config);
  ~TBRNMigrator() override;

  std::unique_ptr<TBRNParamValues> Params;

  // Acquires the module as a migrator and opens an instance, unless one is
  // open.
  void Open();

  // Params replaced by the module's parameters with their defaults.
  void LoadParams();
  // Params handed to the module.
  void SaveParams();
  // Each fills list from the module's comma text, replacing its items.
  void GetObjectNames(TBRNStringsList& list);  // "name=TYPE" in creation order
  void GetTableNames(TBRNStringsList& list);
  void GetViewNames(TBRNStringsList& list);
  void GetFunctionNames(TBRNStringsList& list);
  void GetProcedureNames(TBRNStringsList& list);
  void GetIndexNames(const std::string& table, TBRNStringsList& list);
  void GetTriggerNames(const std::string& table, TBRNStringsList& list);
  void GetCreateObjectStatement(const std::string& name, const std::string& type,
                                std::string& text);
  void GetCreateTableStatement(const std::string& table, std::string& text);
  void GetCreateViewStatement(const std::string& view, std::string& text);
  void GetCreateFunctionStatement(const std::string& function, std::string& text);
  void GetCreateProcedureStatement(const std::string& procedure, std::string& text);
  void GetCreateIndexStatement(const std::string& table, const std::string& index,
                               std::string& text);
  void GetCreateTriggerStatement(const std::string& table, const std::string& trigger,
                                 std::string& text);
  void GetRowsToInsert(const std::string& table, int32_t& count);
  // Empty when the table has no more rows.
  void GetInsertStatement(const std::string& table, std::string& text);

  std::string GetObjectTypeName() const override;
  int64_t GetMemorySize() const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;

 private:
  // The open module (opening it first).
  TBRNModule* opened();
};

// The configuration's migrators.
class TBRNMigrators : public TBRNCollection<TBRNMigrator> {
 public:
  using TBRNCollection::TBRNCollection;

  TBRNMigrator* GetMigrator(int32_t index) const {
    return static_cast<TBRNMigrator*>(GetItem(index));
  }
  std::string GetObjectTypeName() const override;
};

}  // namespace brn
