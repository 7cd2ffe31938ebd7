#include "metadata/modules/migrators.h"

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "foundation/values/param_value.h"
#include "metadata/core/object_selections.h"
#include "metadata/modules/text_filters.h"

namespace brn {

TBRNMigrator::TBRNMigrator(TBRNConfigRoot* config)
    : TBRNModuleBoundObject(config), Params(std::make_unique<TBRNParamValues>()) {}

TBRNMigrator::~TBRNMigrator() = default;  // the binding closes an open instance

void TBRNMigrator::Open() {
  Binding.Open(this, ModuleName, mtMigrator);
}

TBRNModule* TBRNMigrator::opened() {
  return Binding.Open(this, ModuleName, mtMigrator);
}

void TBRNMigrator::LoadParams() {
  opened()->GetParams(Binding.GetInstance(), *Params);
}

void TBRNMigrator::SaveParams() {
  opened()->SetParams(Binding.GetInstance(), *Params);
}

void TBRNMigrator::GetObjectNames(TBRNStringsList& list) {
  opened()->GetObjectNames(Binding.GetInstance(), list);
}

void TBRNMigrator::GetTableNames(TBRNStringsList& list) {
  opened()->GetTableNames(Binding.GetInstance(), list);
}

void TBRNMigrator::GetViewNames(TBRNStringsList& list) {
  opened()->GetViewNames(Binding.GetInstance(), list);
}

void TBRNMigrator::GetFunctionNames(TBRNStringsList& list) {
  opened()->GetFunctionNames(Binding.GetInstance(), list);
}

void TBRNMigrator::GetProcedureNames(TBRNStringsList& list) {
  opened()->GetProcedureNames(Binding.GetInstance(), list);
}

void TBRNMigrator::GetIndexNames(const std::string& table, TBRNStringsList& list) {
  opened()->GetIndexNames(Binding.GetInstance(), table, list);
}

void TBRNMigrator::GetTriggerNames(const std::string& table, TBRNStringsList& list) {
  opened()->GetTriggerNames(Binding.GetInstance(), table, list);
}

void TBRNMigrator::GetCreateObjectStatement(const std::string& name, const std::string& type,
                                            std::string& text) {
  opened()->GetCreateObjectStatement(Binding.GetInstance(), name, type, text);
}

void TBRNMigrator::GetCreateTableStatement(const std::string& table, std::string& text) {
  opened()->GetCreateTableStatement(Binding.GetInstance(), table, text);
}

void TBRNMigrator::GetCreateViewStatement(const std::string& view, std::string& text) {
  opened()->GetCreateViewStatement(Binding.GetInstance(), view, text);
}

void TBRNMigrator::GetCreateFunctionStatement(const std::string& function, std::string& text) {
  opened()->GetCreateFunctionStatement(Binding.GetInstance(), function, text);
}

void TBRNMigrator::GetCreateProcedureStatement(const std::string& procedure, std::string& text) {
  opened()->GetCreateProcedureStatement(Binding.GetInstance(), procedure, text);
}

void TBRNMigrator::GetCreateIndexStatement(const std::string& table, const std::string& index,
                                           std::string& text) {
  opened()->GetCreateIndexStatement(Binding.GetInstance(), table, index, text);
}

void TBRNMigrator::GetCreateTriggerStatement(const std::string& table, const std::string& trigger,
                                             std::string& text) {
  opened()->GetCreateTriggerStatement(Binding.GetInstance(), table, trigger, text);
}

void TBRNMigrator::GetRowsToInsert(const std::string& table, int32_t& count) {
  opened()->GetRowsToInsert(Binding.GetInstance(), table, count);
}

void TBRNMigrator::GetInsertStatement(const std::string& table, std::string& text) {
  opened()->GetInsertStatement(Binding.GetInstance(), table, text);
}

std::string TBRNMigrator::GetObjectTypeName() const {
  return "migrator";
}

int64_t TBRNMigrator::GetMemorySize() const {
  return TBRNConfigObject::GetMemorySize() + int64_t(sizeof(TBRNMigrator)) -
         int64_t(sizeof(TBRNConfigObject)) + StringMemSize(ModuleName) +
         int64_t(sizeof(TBRNParamValues));
}

void TBRNMigrator::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNConfigObject::Assign(source, copyState);
  if (auto* migrator = dynamic_cast<const TBRNMigrator*>(source)) {
    ModuleName = migrator->ModuleName;
  }
}

bool TBRNMigrator::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* migrator = dynamic_cast<const TBRNMigrator*>(other);
  return migrator != nullptr && TBRNConfigObject::IsEqual(other, compareIDs) &&
         TextEqualsIgnoreCase(migrator->ModuleName, ModuleName);
}

void TBRNMigrator::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNConfigObject::SaveToStream(stream, structureOnly);
  stream.WriteString(ModuleName);
}

void TBRNMigrator::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNConfigObject::LoadFromStream(stream);
  ModuleName = readStoredString(stream);
}

std::string TBRNMigrator::GetCreateSQL(bool, bool) {
  return "CREATE MIGRATOR " + QuoteString(Name, '"') + "\r\nMODULE " +
         QuoteString(ModuleName, '"') + DescriptionClause(Description);
}

std::string TBRNMigrator::GetDropSQL(bool, bool) {
  return "DROP MIGRATOR " + QuoteString(Name, '"');
}

// ---------------------------------------------------------------------------
// TBRNMigrators

std::string TBRNMigrators::GetObjectTypeName() const {
  return "migrator";
}

}  // namespace brn
