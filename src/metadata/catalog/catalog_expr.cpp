#include "metadata/catalog/catalog_expr.h"

#include <stdexcept>

#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/sql_text_scanner.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/config/config.h"
#include "sql/builder/sql_builder.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/object_kind.h"
#include "sql/validator/expr_validator.h"

namespace brn {

// ---------------------------------------------------------------------------
// TBRNCatalogExpr

TBRNCatalogExpr::TBRNCatalogExpr(TBRNConfigObject* owner) : Owner(owner) {
  if (owner == nullptr) throw std::invalid_argument("TBRNCatalogExpr: no owner");
}

TBRNCatalogExpr::~TBRNCatalogExpr() {
  // The base destructor no longer reaches ReleaseToken of this class.
  ClearRoot();
}

TBRNConfigObject* TBRNCatalogExpr::GetOwnerTable() const {
  return nullptr;
}

void TBRNCatalogExpr::SetCatalog(TBRNCatalog* catalog) {
  HomeCatalog = catalog;
  CurrentCatalog = catalog;
}

TBRNParseFlags TBRNCatalogExpr::GetParseFlags() const {
  return kCatalogExprFlags;
}

TBRNExprToken* TBRNCatalogExpr::ParseWith(TBRNExprParser& parser, TBRNParseFlags flags) {
  return parser.ParseExpression(flags);
}

TBRNExprParser* TBRNCatalogExpr::GetParser() const {
  return CurrentCatalog != nullptr ? CurrentCatalog->GetParser() : nullptr;
}

TBRNExprValidator* TBRNCatalogExpr::GetValidator() const {
  return CurrentCatalog != nullptr ? CurrentCatalog->GetValidator() : nullptr;
}

TBRNExprBuilder* TBRNCatalogExpr::GetBuilder() const {
  return nullptr;
}

void TBRNCatalogExpr::BuildText(const TBRNExprToken* Node, bool Plan, std::string& Text,
                                bool ParameterValues, bool Costs) {
  Text.clear();
  TBRNExprBuilder* builder = GetBuilder();
  if (builder == nullptr) return;
  if (Node == nullptr) Node = Root;
  builder->MultiLine = Plan;
  builder->Plan = Plan;
  builder->Costs = Costs;
  builder->ParameterValues = ParameterValues;
  builder->IndentLevel = 0;
  builder->Clear();
  struct ClearBuilder {
    TBRNExprBuilder& Builder;
    ~ClearBuilder() { Builder.Clear(); }
  } clear{*builder};
  if (BuildsStatements()) {
    builder->BuildStatement(Node);
  } else {
    builder->BuildSQL(Node);
  }
  Text = builder->GetText();
}

std::string TBRNCatalogExpr::GetKindName() const {
  return "expression";
}

TBRNExprToken* TBRNCatalogExpr::Parse() {
  ResetCatalog();
  TBRNExprParser* parser = GetParser();
  if (parser == nullptr) throw std::logic_error("no SQL parser for the " + GetKindName());
  parser->BeginParse(*this);
  return ParseWith(*parser, GetParseFlags());
}

void TBRNCatalogExpr::GetExpectedType(int32_t& dataType, int32_t& subType) const {
  dataType = 0;
  subType = 0;
}

void TBRNCatalogExpr::Validate() {
  paramNodes_.clear();
  ResetCatalog();
  TBRNExprValidator* validator = GetValidator();
  if (validator == nullptr) throw std::logic_error("no SQL validator for the " + GetKindName());
  validator->SetExpression(*this);
  GetExpectedType(validator->ExpectedType, validator->ExpectedSubType);
  try {
    validator->ValidateExpression();
  } catch (...) {
    validator->ReleaseReferences();
    throw;
  }
}

void TBRNCatalogExpr::ReleaseReferences() {
  ResetCatalog();
  TBRNExprValidator* validator = GetValidator();
  if (validator == nullptr) return;
  validator->SetExpression(*this);
  validator->ReleaseReferences();
}

void TBRNCatalogExpr::TextChanged() {
  TBRNCompiledExpr::TextChanged();
  Owner->SetModified(true);
}

void TBRNCatalogExpr::GetContextSchemaName(const TBRNExprToken* Node, std::string& Name) {
  TBRNCompiledExpr::GetContextSchemaName(Node, Name);
}

void TBRNCatalogExpr::GetContextTableName(const TBRNExprToken* Node, std::string& Name) {
  TBRNCompiledExpr::GetContextTableName(Node, Name);
}

// A database named in a qualified reference must exist. Catalogs of other
// databases are opened by the session, which has no event for it in the
// configuration yet: only the lookup is made here.
void TBRNCatalogExpr::OpenQualifiedDatabase(TBRNExprToken* Node) {
  if (Node == nullptr || Node->DatabaseName.empty() || CurrentCatalog == nullptr) return;
  TBRNConfig* config = CurrentCatalog->GetConfiguration();
  if (config == nullptr || !config->Databases) return;
  try {
    config->Databases->FindByName(Node->DatabaseName, true);
  } catch (const EBRNException& e) {
    if (e.ErrorCode == kSQLTextErrorCode) throw;
    ReportError(e.ErrorMessage, Node->Line, Node->Column);
  }
}

void TBRNCatalogExpr::CloseQualifiedDatabase(TBRNExprToken*) {}

bool TBRNCatalogExpr::TableHasColumn(const TBRNExprToken* TableNode,
                                     const TBRNExprToken* ColumnNode) {
  return CurrentCatalog != nullptr && CurrentCatalog->TableHasColumn(TableNode, ColumnNode, User);
}

TBRNExprToken* TBRNCatalogExpr::keepParamNode(std::string_view name, int32_t index, bool function) {
  std::unique_ptr<TBRNExprToken> node = NewRoutineParamNode(CurrentCatalog, name, index, function);
  if (node == nullptr) return nullptr;
  paramNodes_.push_back(std::move(node));
  return paramNodes_.back().get();
}

TBRNExprToken* TBRNCatalogExpr::GetFunctionParam(std::string_view FunctionName, int32_t Index) {
  return keepParamNode(FunctionName, Index, true);
}

TBRNExprToken* TBRNCatalogExpr::GetProcedureParam(std::string_view ProcedureName, int32_t Index) {
  return keepParamNode(ProcedureName, Index, false);
}

void TBRNCatalogExpr::ResolveToken(TBRNExprToken* Node, TBRNExprTokenKind Kind) {
  std::string schema;
  std::string table;
  GetContextSchemaName(Node, schema);
  GetContextTableName(Node, table);
  TBRNConfigObject* ownerTable = GetOwnerTable();
  if (CurrentCatalog == nullptr)
    ReportError("The expression has no catalog", Node->Line, Node->Column);
  const bool newDerivedTable =
      Kind == tkTableReference && Node->Operation == opDerivedTable && Node->ObjectID == 0;
  // Room first: once the binder has made the table, recording it cannot fail.
  if (newDerivedTable) derivedTables_.reserve(derivedTables_.size() + 1);
  try {
    CurrentCatalog->ResolveCatalogToken(Node, Kind, User, ownerTable, schema, table);
    if (newDerivedTable && Node->ObjectID != 0) {
      derivedTables_.push_back(
          {CurrentCatalog, CurrentCatalog->SchemaForToken(Node, true)->ID, Node->ObjectID});
    }
  } catch (const EBRNException& e) {
    if (e.ErrorCode == kSQLTextErrorCode) throw;
    ReportError(e.ErrorMessage, Node->Line, Node->Column);
  }
}

void TBRNCatalogExpr::ExpandWildcard(TBRNExprToken* Query, TBRNExprToken* TableReference,
                                     int32_t& Position, TBRNExprToken* Wildcard) {
  const int32_t line = Wildcard->Line;
  const int32_t column = Wildcard->Column;
  if (CurrentCatalog == nullptr) ReportError("The expression has no catalog", line, column);
  try {
    CurrentCatalog->ExpandWildcard(Query, Position, TableReference, Wildcard, *this, User);
  } catch (const EBRNException& e) {
    if (e.ErrorCode == kSQLTextErrorCode) throw;
    ReportError(e.ErrorMessage, line, column);
  }
}

void TBRNCatalogExpr::AddTableColumns(TBRNExprToken* TableReference, TBRNExprToken* ListNode) {
  if (CurrentCatalog == nullptr)
    ReportError("The expression has no catalog", TableReference->Line, TableReference->Column);
  try {
    CurrentCatalog->AddTableColumns(TableReference, ListNode, *this, User);
  } catch (const EBRNException& e) {
    if (e.ErrorCode == kSQLTextErrorCode) throw;
    ReportError(e.ErrorMessage, TableReference->Line, TableReference->Column);
  }
}

void TBRNCatalogExpr::ReleaseToken(TBRNExprToken* Node) {
  if (CurrentCatalog != nullptr) CurrentCatalog->ReleaseToken(Node, User);
}

void TBRNCatalogExpr::ClearRoot() {
  // The tables go before the tree their definitions read.
  for (const DerivedTable& table : derivedTables_)
    table.Catalog->ReleaseDerivedTable(table.SchemaID, table.TableID);
  derivedTables_.clear();
  TBRNCompiledExpr::ClearRoot();
}

bool TBRNCatalogExpr::IsTextIndexed(const TBRNExprToken* Node) {
  if (CurrentCatalog == nullptr || Node == nullptr) return false;
  std::string schema;
  std::string table;
  GetContextSchemaName(Node, schema);
  GetContextTableName(Node, table);
  try {
    return CurrentCatalog->IsTextIndexed(Node, User, GetOwnerTable(), schema, table);
  } catch (const EBRNException& e) {
    if (e.ErrorCode == kSQLTextErrorCode) throw;
    ReportError(e.ErrorMessage, Node->Line, Node->Column);
  }
  return false;
}

// ---------------------------------------------------------------------------
// TBRNCatalogStatement

std::string TBRNCatalogStatement::GetKindName() const {
  return "statement";
}

TBRNParseFlags TBRNCatalogStatement::GetParseFlags() const {
  return kCatalogStatementFlags;
}

TBRNExprToken* TBRNCatalogStatement::ParseWith(TBRNExprParser& parser, TBRNParseFlags flags) {
  return parser.ParseStatement(flags);
}

const TBRNExprToken* TBRNCatalogStatement::TriggerStatement() const {
  const TBRNExprToken* root = Root;
  if (root == nullptr || root->Kind != tkStatement ||
      (root->Operation != opCreate && root->Operation != opAlter) || root->Variant != okTrigger ||
      root->ArgumentCount() < 3 || root->Argument(0) == nullptr || root->Argument(2) == nullptr)
    return nullptr;
  return root;
}

void TBRNCatalogStatement::GetContextTableName(const TBRNExprToken* Node, std::string& Name) {
  if (const TBRNExprToken* trigger = TriggerStatement()) {
    Name = trigger->Argument(2)->Name;
    return;
  }
  TBRNCatalogExpr::GetContextTableName(Node, Name);
}

namespace {

// Which rows a trigger event has: old (1), new (2).
int32_t triggerRows(TBRNExprOperation event) {
  switch (event) {
    case opAfterInsert:
    case opBeforeInsert:
    case opErrorInsert:
      return 2;
    case opAfterDelete:
    case opBeforeDelete:
    case opErrorDelete:
      return 1;
    case opAfterAll:
    case opAfterLoadUpdate:
    case opAfterUpdate:
    case opBeforeAll:
    case opBeforeLoadUpdate:
    case opBeforeUpdate:
    case opErrorAll:
    case opErrorLoadUpdate:
    case opErrorUpdate:
      return 3;
    default:
      return 0;
  }
}

bool insideQuery(const TBRNExprToken* node) {
  for (const TBRNExprToken* p = node->Parent; p != nullptr; p = p->Parent) {
    if (p->Kind == tkQuery) return true;
  }
  return false;
}

}  // namespace

void TBRNCatalogStatement::ResolveRowIdentifier(TBRNExprToken* Node) {
  const TBRNExprToken* trigger = TriggerStatement();
  if (trigger == nullptr) return TBRNCatalogExpr::ResolveRowIdentifier(Node);
  const bool oldRow = TextEqualsIgnoreCase(Node->SchemaName, "OldRow");
  const bool newRow = TextEqualsIgnoreCase(Node->SchemaName, "NewRow");
  if (!oldRow && !newRow && insideQuery(Node)) return TBRNCatalogExpr::ResolveRowIdentifier(Node);
  Node->Kind = tkRowColumnReference;
  Node->Operation = opNone;
  const TBRNExprToken* triggerRoot = trigger->Argument(0);
  const int32_t rows = triggerRows(triggerRoot->Operation);
  const TBRNExprToken* rowList =
      triggerRoot->ArgumentCount() > 1 ? triggerRoot->Argument(1) : nullptr;
  const int32_t wanted = oldRow ? 0 : newRow ? 1 : -1;
  if (wanted < 0 || (rows & (1 << wanted)) == 0 || rowList == nullptr) return;
  for (TBRNExprToken* row : rowList->Arguments()) {
    if (row != nullptr && row->Kind == tkRowVariable && row->Variant == wanted) Node->Link = row;
  }
}

// ---------------------------------------------------------------------------
// TBRNCatalogRoutine

bool TBRNCatalogRoutine::IsFunction() const {
  return false;
}

int64_t TBRNCatalogRoutine::GetVersionStamp() const {
  return 0;
}

std::string TBRNCatalogRoutine::GetKindName() const {
  return "routine";
}

TBRNParseFlags TBRNCatalogRoutine::GetParseFlags() const {
  TBRNParseFlags flags = IsFunction() ? kFunctionRoutineFlags : kProcedureRoutineFlags;
  int64_t stamp = GetVersionStamp();
  if (stamp != 0 && stamp < kRoutineSyntaxVersion) flags |= pcLiteralNames;
  return flags;
}

TBRNExprToken* TBRNCatalogRoutine::ParseWith(TBRNExprParser& parser, TBRNParseFlags flags) {
  return IsFunction() ? parser.ParseFunctionRoutine(flags) : parser.ParseProcedureRoutine(flags);
}

void TBRNCatalogRoutine::ReplaceRoutineName(const std::string& newName) {
  int32_t position = 1;
  std::string keyword;
  std::string oldName;
  ReadSQLToken(SQL, position, keyword);
  ReadSQLToken(SQL, position, oldName);
  const bool quoted = !oldName.empty() && oldName.front() == '"';
  std::string text = keyword + " " + (quoted ? QuoteString(newName, '"') : newName) + " ";
  if (size_t(position) <= SQL.size()) text += SQL.substr(size_t(position) - 1);
  SetText(text);
}

std::string TBRNScriptRoutine::GetKindName() const {
  return "script";
}

TBRNExprToken* TBRNScriptRoutine::ParseWith(TBRNExprParser& parser, TBRNParseFlags flags) {
  return parser.ParseScriptRoutine(flags);
}

std::string TBRNProcedureRoutine::GetKindName() const {
  return Owner->GetName() + " procedure";
}

bool TBRNFunctionRoutine::IsFunction() const {
  return true;
}

std::string TBRNFunctionRoutine::GetKindName() const {
  return Owner->GetName() + " function";
}

// ---------------------------------------------------------------------------
// TBRNColumnExpr

TBRNColumnExpr::TBRNColumnExpr(TBRNColumn* column) : TBRNCatalogExpr(column), Column(column) {
  SetCatalog(column->Catalog);
}

TBRNColumnExpr::~TBRNColumnExpr() = default;

TBRNConfigObject* TBRNColumnExpr::GetOwnerTable() const {
  return Column->GetTable();
}

TBRNExprParser* TBRNColumnExpr::GetParser() const {
  if (CurrentCatalog != nullptr) return TBRNCatalogExpr::GetParser();
  TBRNColumns* columns = Column->GetColumns();
  return columns != nullptr ? columns->Parser : nullptr;
}

TBRNExprValidator* TBRNColumnExpr::GetValidator() const {
  if (CurrentCatalog != nullptr) return TBRNCatalogExpr::GetValidator();
  TBRNColumns* columns = Column->GetColumns();
  return columns != nullptr ? columns->Validator : nullptr;
}

TBRNExprBuilder* TBRNColumnExpr::GetBuilder() const {
  if (CurrentCatalog != nullptr) return TBRNCatalogExpr::GetBuilder();
  TBRNColumns* columns = Column->GetColumns();
  return columns != nullptr ? columns->Builder : nullptr;
}

TBRNParseFlags TBRNColumnExpr::GetParseFlags() const {
  return kColumnExprFlags;
}

std::string TBRNColumnExpr::kindWord() const {
  return "column expression";
}

std::string TBRNColumnExpr::GetKindName() const {
  return Column->GetName() + " " + kindWord();
}

bool TBRNColumnExpr::IsUnbound() const {
  return Column->Catalog == nullptr;
}

void TBRNColumnExpr::GetExpectedType(int32_t& dataType, int32_t& subType) const {
  if (IsUnbound()) {
    dataType = Column->DataType;
    subType = Column->SubType;
  } else {
    TBRNCatalogExpr::GetExpectedType(dataType, subType);
  }
}

void TBRNColumnExpr::Validate() {
  // Dependencies of an earlier, failed run are not kept.
  AfterUncompile();
  try {
    TBRNCatalogExpr::Validate();
  } catch (...) {
    AfterUncompile();
    throw;
  }
}

void TBRNColumnExpr::GetContextSchemaName(const TBRNExprToken*, std::string& Name) {
  Name.clear();
  if (IsUnbound()) {
    Name = "Default";
  } else if (TBRNConfigObject* table = Column->GetTable()) {
    Name = table->GetParentName();
  }
}

void TBRNColumnExpr::GetContextTableName(const TBRNExprToken*, std::string& Name) {
  Name.clear();
  if (IsUnbound()) return;
  if (TBRNConfigObject* table = Column->GetTable()) Name = table->GetName();
}

void TBRNColumnExpr::ResolveToken(TBRNExprToken* Node, TBRNExprTokenKind Kind) {
  if (!IsUnbound()) return TBRNCatalogExpr::ResolveToken(Node, Kind);
  if (Kind != tkColumnReference) return;
  TBRNColumns* columns = Column->GetColumns();
  if (columns == nullptr)
    ReportError("The column belongs to no column list", Node->Line, Node->Column);
  try {
    auto* column = static_cast<TBRNColumn*>(columns->FindByName(Node->Name, true));
    Node->Index = column->SourcePosition != 0 ? column->SourcePosition : column->Index;
    Node->DataType = column->DataType;
    Node->SubType = column->SubType;
    Node->Size = column->Length;
    Node->Scale = column->Scale;
    Node->Collation = column->Collation;
  } catch (const EBRNException& e) {
    ReportError(e.ErrorMessage, Node->Line, Node->Column);
  }
}

// ---------------------------------------------------------------------------
// Generated and computed expressions

namespace {

// The column of the same list at a node's number, or nullptr.
TBRNColumn* columnAtNode(TBRNColumn* owner, const TBRNExprToken* node) {
  TBRNColumns* columns = owner->GetColumns();
  if (columns == nullptr || node == nullptr || node->Index < 0 || node->Index >= columns->Count())
    return nullptr;
  return columns->GetItem(node->Index);
}

// The user function a call node was bound to, among the functions of the
// Default schema.
TBRNConfigObject* functionAtNode(TBRNColumn* owner, const TBRNExprToken* node);

void sortUnique(TBRNSelectedConfigObjects* list) {
  if (list == nullptr) return;
  list->SortByID();
  list->RemoveDuplicateIDs();
}

}  // namespace

TBRNParseFlags TBRNGeneratedColumnExpr::GetParseFlags() const {
  return kGeneratedColumnExprFlags;
}

std::string TBRNGeneratedColumnExpr::kindWord() const {
  return "generated column expression";
}

void TBRNGeneratedColumnExpr::AfterCompile() {
  sortUnique(Column->UsedColumns.get());
  sortUnique(Column->UsedFunctions.get());
}

void TBRNGeneratedColumnExpr::AfterUncompile() {
  if (TBRNSelectedColumns* used = Column->UsedColumns.get()) {
    for (int32_t i = 0; i < used->Count(); ++i) {
      TBRNColumn* usedColumn = used->GetItem(i);
      if (TBRNSelectedColumns* dependents = usedColumn->DependentColumns.get()) {
        for (int32_t j = dependents->Count() - 1; j >= 0; --j) {
          if (dependents->GetItem(j) == Column) dependents->RemoveObject(j);
        }
      }
    }
    used->Clear();
  }
  if (Column->UsedFunctions) Column->UsedFunctions->Clear();
  Column->CallsFunctions = false;
}

void TBRNGeneratedColumnExpr::AddColumnDependency(TBRNExprToken* Node) {
  // References to the rows of other tables are bound to a table reference.
  if (Node == nullptr || Node->Link != nullptr || !Column->UsedColumns) return;
  TBRNColumn* used = columnAtNode(Column, Node);
  if (used != nullptr && used != Column) Column->UsedColumns->AddObject(used);
}

void TBRNGeneratedColumnExpr::AddFunctionDependency(TBRNExprToken* Node) {
  Column->CallsFunctions = true;
  if (Node == nullptr || Node->Operation != opUserFunction || !Column->UsedFunctions) return;
  if (TBRNConfigObject* function = functionAtNode(Column, Node))
    Column->UsedFunctions->AddObject(function);
}

TBRNParseFlags TBRNComputedColumnExpr::GetParseFlags() const {
  return kComputedColumnExprFlags;
}

std::string TBRNComputedColumnExpr::kindWord() const {
  return "computed column expression";
}

// ---------------------------------------------------------------------------
// Default expressions

TBRNParseFlags TBRNDefaultColumnExpr::GetParseFlags() const {
  return kDefaultColumnExprFlags;
}

std::string TBRNDefaultColumnExpr::kindWord() const {
  return "column default expression";
}

TBRNExprToken* TBRNDefaultColumnExpr::Parse() {
  if (IsUnbound()) return nullptr;
  return TBRNColumnExpr::Parse();
}

void TBRNDefaultColumnExpr::AfterCompile() {
  sortUnique(Column->DefaultUsedColumns.get());
  sortUnique(Column->DefaultUsedFunctions.get());
}

void TBRNDefaultColumnExpr::AfterUncompile() {
  if (Column->DefaultUsedColumns) Column->DefaultUsedColumns->Clear();
  if (Column->DefaultUsedFunctions) Column->DefaultUsedFunctions->Clear();
}

void TBRNDefaultColumnExpr::AddColumnDependency(TBRNExprToken* Node) {
  if (Node == nullptr || Node->Link != nullptr || !Column->DefaultUsedColumns) return;
  TBRNColumn* used = columnAtNode(Column, Node);
  if (used != nullptr && used != Column) Column->DefaultUsedColumns->AddObject(used);
}

void TBRNDefaultColumnExpr::AddFunctionDependency(TBRNExprToken* Node) {
  if (Node == nullptr || Node->Operation != opUserFunction || !Column->DefaultUsedFunctions) return;
  if (TBRNConfigObject* function = functionAtNode(Column, Node))
    Column->DefaultUsedFunctions->AddObject(function);
}

namespace {

TBRNConfigObject* functionAtNode(TBRNColumn* owner, const TBRNExprToken* node) {
  TBRNCatalog* catalog = owner->Catalog;
  if (catalog == nullptr || catalog->DefaultSchema == nullptr) return nullptr;
  TBRNConfigObjects* functions = catalog->DefaultSchema->Functions.get();
  if (node->Index < 0 || node->Index >= functions->Count()) return nullptr;
  return functions->GetItem(node->Index);
}

}  // namespace

}  // namespace brn
