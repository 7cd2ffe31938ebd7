#include "sql/test_owner.h"

#include <stdexcept>
#include <utility>

#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"

namespace brn::testing {

namespace {

constexpr int32_t kQuerySelectList = 2;
constexpr int32_t kQueryFromList = 6;

bool sameName(std::string_view a, std::string_view b) {
  return TextEqualsIgnoreCase(a, b);
}

void setType(TBRNExprToken& node, TBRNDataTypeCode type, int32_t size, int32_t scale,
             int32_t collation) {
  node.SetDataType(type);
  if (size != 0) node.SetSize(size);
  if (scale != 0) node.SetScale(scale);
  node.Collation = collation;
}

}  // namespace

int32_t TestTable::FindColumn(std::string_view name) const {
  for (size_t i = 0; i < Columns.size(); ++i)
    if (sameName(Columns[i].Name, name)) return int32_t(i);
  return -1;
}

const TestTable* TestCatalog::FindTable(std::string_view database, std::string_view schema,
                                        std::string_view name) const {
  for (const TestTable& table : Tables) {
    if (!sameName(table.Name, name)) continue;
    if (!database.empty() && !sameName(table.Database, database)) continue;
    if (database.empty() && !table.Database.empty()) continue;
    if (!schema.empty() && !sameName(table.Schema, schema)) continue;
    return &table;
  }
  return nullptr;
}

const TestRoutine* TestCatalog::FindRoutine(std::string_view name, bool isFunction) const {
  for (const TestRoutine& routine : Routines)
    if (routine.IsFunction == isFunction && sameName(routine.Name, name)) return &routine;
  return nullptr;
}

TestCatalog TestCatalog::Sample() {
  TestCatalog catalog;
  catalog.Tables = {
      {"",
       "Default",
       "Customers",
       1,
       {{"ID", dtInteger}, {"Name", dtChar, 40, 0, 0, true}, {"City", dtChar, 30}}},
      {"",
       "Default",
       "Orders",
       2,
       {{"ID", dtInteger},
        {"CustomerID", dtInteger},
        {"Amount", dtDecimal, 12, 2},
        {"Placed", dtDate}}},
      {"", "Sales", "Orders", 3, {{"ID", dtInteger}, {"Region", dtChar, 10}}},
      {"archive", "Default", "Orders", 4, {{"ID", dtInteger}, {"Closed", dtTimestamp}}},
  };
  catalog.Routines = {
      {"Discount", true, 10, dtDecimal, 12, {{"Amount", dtDecimal, 12, 2}, {"Percent", dtInteger}}},
      {"Greeting", true, 11, dtChar, 60, {{"Name", dtChar, 40}}},
      {"Archive", false, 12, dtNull, 0, {{"Before", dtDate}, {"Keep", dtBoolean}}},
  };
  return catalog;
}

TestOwner::TestOwner(TestCatalog catalog, TestParseMode mode, TBRNParseFlags flags)
    : Catalog(std::move(catalog)), Mode(mode), Flags(flags) {}

TestOwner::~TestOwner() {
  ClearRoot();
}

void TestOwner::CompileText(std::string_view text) {
  SetText(text);
  Compile();
}

TBRNExprToken* TestOwner::Parse() {
  ++ParseCalls;
  if (FixedTree) return CopyExprTree(FixedTree);
  Parser->BeginParse(*this);
  return Mode == TestParseMode::Expression ? Parser->ParseExpression(Flags)
                                           : Parser->ParseStatement(Flags);
}

void TestOwner::Validate() {
  ++ValidateCalls;
  if (OnValidate) OnValidate(*this);
}

void TestOwner::GetContextSchemaName(const TBRNExprToken* Node, std::string& Name) {
  if (ContextTable.empty()) return TBRNCompiledExpr::GetContextSchemaName(Node, Name);
  const TestTable* table = Catalog.FindTable("", "", ContextTable);
  Name = table ? table->Schema : "Default";
}

void TestOwner::GetContextTableName(const TBRNExprToken* Node, std::string& Name) {
  if (ContextTable.empty()) return TBRNCompiledExpr::GetContextTableName(Node, Name);
  Name = ContextTable;
}

const TestTable* TestOwner::TableOf(const TBRNExprToken* node) const {
  if (!node) return nullptr;
  if (node->Kind == tkTableReference || node->Kind == tkTableName)
    return Catalog.FindTable(node->DatabaseName, node->SchemaName, node->Name);
  if (node->Link) return TableOf(node->Link);
  if (!ContextTable.empty()) return Catalog.FindTable("", "", ContextTable);
  return nullptr;
}

TBRNExprToken* TestOwner::columnReference(const TestTable& table, int32_t column,
                                          TBRNExprToken* link) {
  const TestColumn& c = table.Columns[size_t(column)];
  auto* node = new TBRNExprToken;
  node->Kind = tkColumnReference;
  node->Name = c.Name;
  node->Index = column;
  node->Link = link;
  setType(*node, c.DataType, c.Size, c.Scale, c.Collation);
  node->AddArgument(nullptr);
  node->AddArgument(nullptr);
  return node;
}

void TestOwner::ExpandWildcard(TBRNExprToken* Query, TBRNExprToken* TableReference,
                               int32_t& Position, TBRNExprToken* Wildcard) {
  TBRNExprToken* selectList = Query->Argument(kQuerySelectList);
  std::vector<TBRNExprToken*> tables;
  if (TableReference) {
    tables.push_back(TableReference);
  } else if (TBRNExprToken* fromList = Query->Argument(kQueryFromList)) {
    for (TBRNExprToken* item : fromList->Arguments())
      if (item) tables.push_back(item);
  }
  selectList->DeleteArgument(Position);
  TBRNExprToken* wildcard = Wildcard;
  for (TBRNExprToken* tableNode : tables) {
    const TestTable* table = TableOf(tableNode);
    if (!table) continue;
    for (size_t i = 0; i < table->Columns.size(); ++i) {
      auto* item = new TBRNExprToken;
      item->Kind = tkSelectItem;
      item->CopyPosition(wildcard);
      item->Text = table->Columns[i].Name;
      TBRNExprToken* column = columnReference(*table, int32_t(i), tableNode);
      column->CopyPosition(wildcard);
      item->AssignDataType(column);
      item->AddArgument(column);
      selectList->InsertArgument(Position++, item);
    }
  }
  FreeExprTree(wildcard);
}

void TestOwner::AddTableColumns(TBRNExprToken* TableReference, TBRNExprToken* ListNode) {
  const TestTable* table = TableOf(TableReference);
  if (!table) return;
  for (size_t i = 0; i < table->Columns.size(); ++i)
    ListNode->AddArgument(columnReference(*table, int32_t(i), TableReference));
}

TBRNExprToken* TestOwner::paramNode(const TestRoutine* routine, int32_t index) {
  if (!routine || index < 0 || index >= int32_t(routine->Params.size())) return nullptr;
  const TestParam& param = routine->Params[size_t(index)];
  auto node = std::make_unique<TBRNExprToken>();
  node->Kind = tkRoutineParam;
  node->Name = param.Name;
  setType(*node, param.DataType, param.Size, param.Scale, 0);
  FParamNodes.push_back(std::move(node));
  return FParamNodes.back().get();
}

TBRNExprToken* TestOwner::GetFunctionParam(std::string_view FunctionName, int32_t Index) {
  return paramNode(Catalog.FindRoutine(FunctionName, true), Index);
}

TBRNExprToken* TestOwner::GetProcedureParam(std::string_view ProcedureName, int32_t Index) {
  return paramNode(Catalog.FindRoutine(ProcedureName, false), Index);
}

bool TestOwner::TableHasColumn(const TBRNExprToken* TableNode, const TBRNExprToken* ColumnNode) {
  const TestTable* table = TableOf(TableNode);
  return table && ColumnNode && table->FindColumn(ColumnNode->Name) >= 0;
}

void TestOwner::ResolveToken(TBRNExprToken* Node, TBRNExprTokenKind Kind) {
  switch (Kind) {
    case tkTableReference: {
      const TestTable* table = TableOf(Node);
      if (!table)
        ReportError(FormatText("table %s does not exist", {Node->Name}), Node->Line, Node->Column);
      Node->ObjectID = table->ObjectID;
      return;
    }
    case tkColumnReference: {
      const TestTable* table = TableOf(Node);
      const int32_t column = table ? table->FindColumn(Node->Name) : -1;
      if (column < 0)
        ReportError(FormatText("column %s does not exist", {Node->Name}), Node->Line, Node->Column);
      const TestColumn& c = table->Columns[size_t(column)];
      Node->Index = column;
      setType(*Node, c.DataType, c.Size, c.Scale, c.Collation);
      return;
    }
    case tkFunction:
    case tkProcedureName:
    case tkRoutineCall: {
      const bool isFunction = Kind == tkFunction;
      const TestRoutine* routine = Catalog.FindRoutine(Node->Name, isFunction);
      if (!routine)
        ReportError(
            FormatText(isFunction ? "function %s does not exist" : "procedure %s does not exist",
                       {Node->Name}),
            Node->Line, Node->Column);
      Node->ObjectID = routine->ObjectID;
      if (isFunction) setType(*Node, routine->ResultType, routine->ResultSize, 0, 0);
      return;
    }
    default:
      return;
  }
}

void TestOwner::ReleaseToken(TBRNExprToken* Node) {
  ReleasedTokens.push_back(Node);
}

bool TestOwner::IsTextIndexed(const TBRNExprToken* Node) {
  const TestTable* table = TableOf(Node);
  const int32_t column = table && Node ? table->FindColumn(Node->Name) : -1;
  return column >= 0 && table->Columns[size_t(column)].TextIndexed;
}

void TestOwner::AddTableDependency(TBRNExprToken* Node) {
  TableDependencies.push_back(Node->Name);
}

void TestOwner::AddColumnDependency(TBRNExprToken* Node) {
  ColumnDependencies.push_back(Node->Name);
}

void TestOwner::AddFunctionDependency(TBRNExprToken* Node) {
  FunctionDependencies.push_back(Node->Name);
}

void TestOwner::AddProcedureDependency(TBRNExprToken* Node) {
  ProcedureDependencies.push_back(Node->Name);
}

void TestOwner::TextChanged() {
  ++TextChangedCalls;
  TBRNCompiledExpr::TextChanged();
}

void TestOwner::AfterCompile() {
  ++AfterCompileCalls;
  if (OnAfterCompile) OnAfterCompile(*this);
}

void TestOwner::AfterUncompile() {
  ++AfterUncompileCalls;
}

}  // namespace brn::testing
