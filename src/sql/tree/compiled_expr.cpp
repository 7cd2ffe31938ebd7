#include "sql/tree/compiled_expr.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_set>
#include <utility>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/identifiers.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/tree/keywords.h"
#include "sql/tree/lexer.h"

namespace brn {

namespace {

// Argument position of the FROM list in a tkQuery node.
constexpr int32_t kQueryFromList = 6;

// The nearest tkQuery strictly above Node, or nil.
const TBRNExprToken* enclosingQuery(const TBRNExprToken* node) {
  for (const TBRNExprToken* p = node ? node->Parent : nullptr; p; p = p->Parent)
    if (p->Kind == tkQuery) return p;
  return nullptr;
}

// The first item of the FROM list of the nearest query around Node, or nil.
const TBRNExprToken* firstContextTable(const TBRNExprToken* node) {
  const TBRNExprToken* query = enclosingQuery(node);
  if (!query || query->ArgumentCount() <= kQueryFromList) return nullptr;
  const TBRNExprToken* fromList = query->Argument(kQueryFromList);
  if (!fromList || fromList->ArgumentCount() == 0) return nullptr;
  return fromList->Argument(0);
}

// Texts are equal ignoring letter case, except inside string literals, whose
// case is part of the value. Both texts are walked together: as long as they
// agree, their quotes and comment marks sit at the same places, so one state
// serves both. Byte literals (X'...') hold hex digits and ignore case.
// Trailing blanks (character 32) do not count, as in every binary text
// comparison of the engine.
bool sqlTextsEqual(std::string_view a, std::string_view b) {
  a = a.substr(0, size_t(TrimmedCount(a.data(), int32_t(a.size()))));
  b = b.substr(0, size_t(TrimmedCount(b.data(), int32_t(b.size()))));
  if (a.size() != b.size()) return false;
  enum class State { Plain, String, Bytes, Quoted, LineComment, BlockComment };
  State state = State::Plain;
  size_t commentStart = 0;
  const size_t n = a.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = a[i];
    const bool exact = state == State::String;
    if (exact ? c != b[i] : UpperChar(c) != UpperChar(b[i])) return false;
    const char next = i + 1 < n ? a[i + 1] : '\0';
    switch (state) {
      case State::Plain:
        if (c == '\'') {
          const bool bytes =
              i > 0 && (a[i - 1] == 'X' || a[i - 1] == 'x') && (i < 2 || !IsAlphaNumChar(a[i - 2]));
          state = bytes ? State::Bytes : State::String;
        } else if (c == '"') {
          state = State::Quoted;
        } else if (c == '-' && next == '-') {
          state = State::LineComment;
        } else if (c == '/' && next == '*') {
          state = State::BlockComment;
          commentStart = i;
        }
        break;
      case State::String:
      case State::Quoted: {
        const char quote = state == State::String ? '\'' : '"';
        if (c != quote) break;
        if (next == quote) {
          // A doubled quote stands for one; compare its second half here.
          if (state == State::String ? next != b[i + 1] : UpperChar(next) != UpperChar(b[i + 1]))
            return false;
          ++i;
        } else {
          state = State::Plain;
        }
        break;
      }
      case State::Bytes:
        if (c == '\'') state = State::Plain;
        break;
      case State::LineComment:
        if (c == '\r' || c == '\n') state = State::Plain;
        break;
      case State::BlockComment:
        if (c == '/' && i >= commentStart + 3 && a[i - 1] == '*') state = State::Plain;
        break;
    }
  }
  return true;
}

// The lexer that RenameInText uses to find the extent of a reference in text
// that has already been parsed; a missing terminator only ends the scan.
class ReferenceScanner : public TBRNExprLexer {
 public:
  struct ScanStopped {};

 protected:
  void ExpectedChar(char) override { throw ScanStopped{}; }
};

// One part of a (possibly qualified) name as written in the text.
struct NamePart {
  int32_t Start = 0;   // 1-based position of its first character
  int32_t Length = 0;  // characters as written, quotes included
  bool Quoted = false;
  std::string Name;  // the name it stands for
};

// The dot-separated name parts written at 1-based position start: an
// identifier (plain or quoted), then, while "." and another identifier
// follow, the further parts. Empty when no identifier starts there.
std::vector<NamePart> scanNameParts(std::string_view text, int32_t start) {
  std::vector<NamePart> parts;
  if (start < 1 || start > int32_t(text.size())) return parts;
  ReferenceScanner scanner;
  scanner.BeginScan(text);
  scanner.ScanPos = start;
  try {
    scanner.NextToken();
    if (scanner.TokenStart != start) return parts;
    while (scanner.IsIdentifierToken()) {
      parts.push_back({scanner.TokenStart, scanner.ScanPos - scanner.TokenStart,
                       scanner.IsToken(ttQuotedIdentifier), scanner.TokenText()});
      scanner.NextToken();
      if (!scanner.IsToken('.')) break;
      scanner.NextToken();
    }
  } catch (const ReferenceScanner::ScanStopped&) {
  }
  return parts;
}

bool isKeyword(std::string_view name) {
  auto inWords = [name](auto& words) {
    return std::any_of(words.begin(), words.end(),
                       [name](std::string_view word) { return TextEqualsIgnoreCase(word, name); });
  };
  auto inTable = [name](auto& table) { return LookupKeyword(table, name) != opNone; };
  return inWords(ReservedWords) || inWords(DataTypeWords) || inWords(BooleanAndNullWords) ||
         inTable(FunctionKeywords) || inTable(StatementKeywords) ||
         inTable(RoutineStatementKeywords);
}

// Whether name must be written as a quoted identifier to read back as itself.
bool needsQuotes(std::string_view name) {
  if (name.empty() || !IsIdentStartChar(name[0])) return true;
  for (char c : name)
    if (!IsAlphaNumChar(c)) return true;
  return isKeyword(name);
}

std::string quotedName(std::string_view name) {
  return "\"" + DoubleChar('"', name) + "\"";
}

bool isRowQualifier(std::string_view qualifier) {
  return TextEqualsIgnoreCase(qualifier, "OldRow") || TextEqualsIgnoreCase(qualifier, "NewRow");
}

// Whether the table qualifier `qualifier` of the column reference node names
// the table tableName through a FROM item without correlation name: the
// nearest query around the node whose FROM list has an item of that
// effective name decides.
bool qualifierNamesTable(const TBRNExprToken* node, std::string_view qualifier,
                         std::string_view tableName) {
  for (const TBRNExprToken* query = enclosingQuery(node); query; query = enclosingQuery(query)) {
    if (query->ArgumentCount() <= kQueryFromList) continue;
    const TBRNExprToken* fromList = query->Argument(kQueryFromList);
    if (!fromList) continue;
    for (const TBRNExprToken* item : fromList->Arguments()) {
      if (!item) continue;
      const std::string& effectiveName = item->Alias.empty() ? item->Name : item->Alias;
      if (!TextEqualsIgnoreCase(effectiveName, qualifier)) continue;
      return item->Kind == tkTableReference && item->Operation != opDerivedTable &&
             item->Alias.empty() && TextEqualsIgnoreCase(item->Name, tableName);
    }
  }
  return false;
}

// Frees a tree on every exit.
class TreeHolder {
 public:
  explicit TreeHolder(TBRNExprToken* root) : Root(root) {}
  ~TreeHolder() { FreeExprTree(Root); }
  TreeHolder(const TreeHolder&) = delete;
  TreeHolder& operator=(const TreeHolder&) = delete;
  TBRNExprToken* Root;
};

}  // namespace

TBRNCompiledExpr::TBRNCompiledExpr() = default;

TBRNCompiledExpr::~TBRNCompiledExpr() {
  TBRNCompiledExpr::ClearRoot();
}

void TBRNCompiledExpr::SetText(std::string_view S) {
  if (S == SQL) return;
  SQL = S;
  SQLLength = int32_t(SQL.size());
  TextChanged();
}

void TBRNCompiledExpr::SetCompiled(bool Value) {
  if (Compiling) return;
  Compiling = true;
  struct ClearCompiling {
    bool& Flag;
    ~ClearCompiling() { Flag = false; }
  } clearCompiling{Compiling};
  if (Value == Compiled) return;
  ClearRoot();
  if (Value) {
    Root = Parse();
    if (Root) {
      try {
        Validate();
        AfterCompile();
      } catch (...) {
        ClearRoot();
        throw;
      }
    }
  } else {
    AfterUncompile();
  }
  Compiled = Value;
}

void TBRNCompiledExpr::RenameInText(TBRNExprTokenKind Kind, std::string_view OldName,
                                    std::string_view NewName) {
  if (NewName.find_first_of("\r\n") != std::string_view::npos)
    throw std::invalid_argument("RenameInText: a name cannot hold a line break");
  TreeHolder tree(Parse());

  // Each position is replaced once: nodes that share a position are copies
  // of one reference. Column references are looked at for a table rename
  // too: their table qualifier is the part before the column name.
  struct Replacement {
    int32_t Start;
    int32_t Length;
    bool Quoted;
  };
  std::vector<Replacement> replacements;
  std::unordered_set<int32_t> seen;
  ForEachNode(tree.Root, [&](const TBRNExprToken* node) {
    const bool isColumn = node->Kind == tkColumnReference;
    const bool columnKind = Kind == tkColumnReference || Kind == tkRowColumnReference;
    if (isColumn ? !columnKind && Kind != tkTableReference : node->Kind != Kind) return;
    if (node->Kind == tkTableReference && node->Operation == opDerivedTable) return;
    if (!seen.insert(node->Position).second) return;
    const std::vector<NamePart> parts = scanNameParts(SQL, node->Position);
    if (parts.empty()) return;
    const NamePart& last = parts.back();
    const bool namesOld =
        TextEqualsIgnoreCase(node->Name, OldName) && TextEqualsIgnoreCase(last.Name, OldName);
    if (!isColumn) {
      if (namesOld) replacements.push_back({last.Start, last.Length, last.Quoted});
      return;
    }
    // The qualifier as written: the parser may have dropped it from the node.
    const NamePart* qualifier = parts.size() >= 2 ? &parts[parts.size() - 2] : nullptr;
    const bool rowReference = isRowQualifier(qualifier ? qualifier->Name : node->SchemaName);
    if (namesOld && columnKind && rowReference == (Kind == tkRowColumnReference))
      replacements.push_back({last.Start, last.Length, last.Quoted});
    if (Kind == tkTableReference && qualifier && TextEqualsIgnoreCase(qualifier->Name, OldName) &&
        qualifierNamesTable(node, qualifier->Name, OldName))
      replacements.push_back({qualifier->Start, qualifier->Length, qualifier->Quoted});
  });
  if (replacements.empty()) return;

  // From the end backwards, so that no replacement moves a position that is
  // still to be used; an extent that overlaps one already replaced is left.
  std::sort(replacements.begin(), replacements.end(),
            [](const Replacement& x, const Replacement& y) { return x.Start > y.Start; });
  const std::string plainName(NewName);
  const std::string quoted = quotedName(NewName);
  const bool mustQuote = needsQuotes(NewName);
  std::string text = SQL;
  int32_t limit = int32_t(text.size()) + 1;
  for (const Replacement& r : replacements) {
    if (r.Start + r.Length > limit) continue;
    text.replace(size_t(r.Start - 1), size_t(r.Length), mustQuote || r.Quoted ? quoted : plainName);
    limit = r.Start;
  }
  SetText(text);
}

void TBRNCompiledExpr::ReleaseTree(TBRNExprToken* Node) {
  // A node is released once all of its children were.
  ForEachNodePostOrder(Node, [this](TBRNExprToken* node) { ReleaseToken(node); });
}

void TBRNCompiledExpr::ReportError(const std::string& Message, int32_t Line, int32_t Column) {
  const int32_t line = GetErrorLine(Line);
  const int32_t column = GetErrorColumn(Column);
  const std::string text =
      FormatText("An error was found in the %s at line %s and column %s (%s)",
                 {GetKindName(), IntegerToString(line), IntegerToString(column), Message});
  throw EBRNException(kSQLTextErrorCode, text, line, column);
}

void TBRNCompiledExpr::SetRoot(TBRNExprToken* Node) {
  // Read before the old tree goes: Node may lie inside it.
  std::string text = Node && Node->Parent ? Node->Parent->Text : std::string();
  TBRNExpr::SetRoot(Node);
  SQL = std::move(text);
  SQLLength = int32_t(SQL.size());
  Compiled = Node != nullptr;
}

int64_t TBRNCompiledExpr::MemorySize() const {
  return TBRNExpr::MemorySize() + int64_t(sizeof(TBRNCompiledExpr) - sizeof(TBRNExpr)) +
         StringMemSize(SQL);
}

void TBRNCompiledExpr::AttachRuntimeObject(TBRNExprToken* JoinEntry,
                                           std::unique_ptr<TBRNExprRuntimeObject> Object) {
  if (!JoinEntry || !Object || JoinEntry->RuntimeObject)
    throw std::invalid_argument("AttachRuntimeObject: no node, no object or one already there");
  runtimeObjects_.reserve(runtimeObjects_.size() + 1);
  JoinEntry->RuntimeObject = Object.get();
  runtimeObjects_.push_back(std::move(Object));
}

void TBRNCompiledExpr::ClearRoot() {
  if (!runtimeObjects_.empty()) {
    // A tree this object does not own lives on: its nodes must not keep
    // references to the objects freed here (copies of a node share them).
    if (Root) ForEachNodePostOrder(Root, [this](TBRNExprToken* node) {
      for (const auto& object : runtimeObjects_) {
        if (node->RuntimeObject == object.get()) node->RuntimeObject = nullptr;
      }
    });
    runtimeObjects_.clear();
  }
  if (Root && OwnsRoot()) ReleaseTree(Root);
  TBRNExpr::ClearRoot();
}

void TBRNCompiledExpr::Assign(const TBRNExpr* Other, bool WithTree) {
  TBRNExpr::Assign(Other, WithTree);
  const auto* other = dynamic_cast<const TBRNCompiledExpr*>(Other);
  if (!other || other == this) return;
  // Without the tree the object is uncompiled, and an uncompiled object
  // holds no tree: the one it had belongs to its previous text.
  if (!WithTree) ClearRoot();
  Compiled = WithTree && other->Compiled;
  SQL = other->SQL;
  SQLLength = other->SQLLength;
}

bool TBRNCompiledExpr::Equals(const TBRNExpr* Other) const {
  const auto* other = dynamic_cast<const TBRNCompiledExpr*>(Other);
  // Two uncompiled objects have no trees to compare (two nil roots would
  // always be equal), so their texts decide.
  if (!other || (Compiled && other->Compiled)) return TBRNExpr::Equals(Other);
  return sqlTextsEqual(TrimTrailingText(SQL, "\r\n"), TrimTrailingText(other->SQL, "\r\n"));
}

void TBRNCompiledExpr::WriteToStream(TBRNMemoryStream& Stream) {
  Stream.WriteString(SQL);
}

void TBRNCompiledExpr::ReadFromStream(TBRNMemoryStream& Stream) {
  std::string text;
  Stream.ReadString(text);
  if (text == SQL) return;
  SQL = std::move(text);
  SQLLength = int32_t(SQL.size());
  SetCompiled(false);
}

TBRNExprToken* TBRNCompiledExpr::Parse() {
  return nullptr;
}

void TBRNCompiledExpr::Validate() {}

void TBRNCompiledExpr::GetContextDatabaseName(const TBRNExprToken* Node, std::string& Name) {
  Name.clear();
  if (!Node || Node->Kind != tkColumnReference) return;
  if (const TBRNExprToken* table = firstContextTable(Node)) Name = table->DatabaseName;
}

void TBRNCompiledExpr::GetContextSchemaName(const TBRNExprToken* Node, std::string& Name) {
  Name.clear();
  if (const TBRNExprToken* table = firstContextTable(Node)) Name = table->SchemaName;
}

void TBRNCompiledExpr::GetContextTableName(const TBRNExprToken* Node, std::string& Name) {
  Name.clear();
  if (const TBRNExprToken* table = firstContextTable(Node)) Name = table->Name;
}

void TBRNCompiledExpr::BeginUseDatabase(TBRNExprToken*) {}

void TBRNCompiledExpr::EndUseDatabase(TBRNExprToken*) {}

void TBRNCompiledExpr::ExpandWildcard(TBRNExprToken*, TBRNExprToken*, int32_t&, TBRNExprToken*) {}

void TBRNCompiledExpr::AddTableColumns(TBRNExprToken*, TBRNExprToken*) {}

void TBRNCompiledExpr::OpenQualifiedDatabase(TBRNExprToken*) {}

void TBRNCompiledExpr::CloseQualifiedDatabase(TBRNExprToken*) {}

TBRNExprToken* TBRNCompiledExpr::GetFunctionParam(std::string_view, int32_t) {
  return nullptr;
}

TBRNExprToken* TBRNCompiledExpr::GetProcedureParam(std::string_view, int32_t) {
  return nullptr;
}

bool TBRNCompiledExpr::TableHasColumn(const TBRNExprToken*, const TBRNExprToken*) {
  return false;
}

void TBRNCompiledExpr::ResolveToken(TBRNExprToken*, TBRNExprTokenKind) {}

void TBRNCompiledExpr::ReleaseToken(TBRNExprToken*) {}

bool TBRNCompiledExpr::IsTextIndexed(const TBRNExprToken*) {
  return false;
}

void TBRNCompiledExpr::ResolveRowIdentifier(TBRNExprToken* Node) {
  if (Node) Node->Operation = opNone;
}

void TBRNCompiledExpr::AddTableDependency(TBRNExprToken*) {}

void TBRNCompiledExpr::AddColumnDependency(TBRNExprToken*) {}

void TBRNCompiledExpr::AddFunctionDependency(TBRNExprToken*) {}

void TBRNCompiledExpr::AddProcedureDependency(TBRNExprToken*) {}

int32_t TBRNCompiledExpr::GetRowSize() {
  return 0;
}

int32_t TBRNCompiledExpr::GetRowCount() {
  return 0;
}

void TBRNCompiledExpr::GetScanTableName(std::string& Text) {
  Text.clear();
}

void TBRNCompiledExpr::AnalyzeIndexCondition(TBRNExprToken* Node, bool) {
  if (!Node) return;
  Node->OptimizeLevel = 0;
  Node->RowCount = 0;
  Node->EstimatedCost = 0;
  Node->ScanName.clear();
  Node->HintColumns.clear();
}

void TBRNCompiledExpr::TextChanged() {
  Uncompile();
}

void TBRNCompiledExpr::AfterCompile() {}

void TBRNCompiledExpr::AfterUncompile() {}

bool TBRNCompiledExpr::AllowsTableQualifier() {
  return false;
}

// BuildText is defined with the SQL text builder (sql/builder/compiled_expr_text.cpp).

// OptimizeConditions is defined with the condition analysis (sql/tree/condition_analysis.cpp).

void TBRNCompiledExpr::ReleaseReferences() {}

}  // namespace brn
