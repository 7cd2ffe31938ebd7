#include "execution/filters/filter_expr.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "foundation/text/collation.h"
#include "foundation/text/word_list.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "sessions/databases/local_database_manager.h"
#include "sql/evaluator/expr_program.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "storage/indexes/index_file.h"
#include "storage/rows/execution_seam.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

constexpr int32_t kModeCandidates = 2;

bool isAndOr(const TBRNExprToken* node, TBRNExprOperation op) {
  return node != nullptr && node->Kind == tkOperator && node->Operation == op && node->Left() &&
         node->Right();
}

bool isComparison(const TBRNExprToken* node) {
  if (node == nullptr || node->Kind != tkOperator || !node->Left() || !node->Right()) return false;
  switch (node->Operation) {
    case opEqual:
    case opNotEqual:
    case opGreaterOrEqual:
    case opGreater:
    case opLessOrEqual:
    case opLess:
      return true;
    default:
      return false;
  }
}

bool isTextSearch(const TBRNExprToken* node) {
  if (node == nullptr || node->Kind != tkPredicate) return false;
  return node->Operation == opContains || node->Operation == opContainsAny ||
         node->Operation == opNotContain || node->Operation == opNotContainAny;
}

bool isTruth(const TBRNValue* value) {
  return value != nullptr && !value->GetNull() && value->GetAsBoolean();
}

// The column operand of a candidate node (a comparison's left operand, a
// predicate's first argument).
TBRNExprToken* columnOperand(TBRNExprToken* node) {
  if (node->Kind == tkOperator) return node->Left();
  return node->ArgumentCount() > 0 ? node->Argument(0) : nullptr;
}

// The LIKE text of a value as the evaluator reads it (NULL reads as empty).
std::string likeText(const TBRNValue& value) {
  return value.GetNull() ? std::string() : value.GetAsString();
}

// The escape character of a LIKE node (0: none); its operand is evaluated.
char likeEscape(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  if (node->ArgumentCount() < 3 || node->Argument(2) == nullptr) return 0;
  evaluator.Evaluate(node->Argument(2));
  const std::string text = likeText(*node->Argument(2)->Value);
  return text.empty() ? 0 : text.front();
}

// The collation without its case, accent, kana and width flags.
int32_t plainCollation(int32_t collation) {
  return collation & 0xFFFF;
}

// Temporarily detaches the current rows: the constant operands of a
// condition are evaluated without a row.
struct NoCurrentRow {
  explicit NoCurrentRow(TBRNExprFilter& filter)
      : Context(*filter.Context), Slot(size_t(filter.RowSlot)) {
    filter.SyncOuterRows();
    Previous = Context.CurrentRows[Slot];
    Context.CurrentRows[Slot] = nullptr;
  }
  ~NoCurrentRow() { Context.CurrentRows[Slot] = Previous; }
  TBRNEvaluatorContext& Context;
  size_t Slot;
  const TBRNValues* Previous = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------
// TBRNFilterExpr

TBRNFilterExpr::TBRNFilterExpr(TBRNExprFilter& Filter)
    : TBRNCatalogExpr(Filter.GetCursor().GetFilterTable().GetBaseTable()), Filter(Filter) {
  TBRNEvaluatorContext* context = Filter.Context.get();
  TBRNCatalog* catalog = nullptr;
  if (context != nullptr && context->DefaultDatabase != nullptr)
    catalog = context->DefaultDatabase->Catalog.get();
  if (catalog == nullptr) catalog = Filter.GetCursor().GetFilterTable().GetBaseTable()->Catalog;
  SetCatalog(catalog);
}

TBRNFilterExpr::~TBRNFilterExpr() {
  ClearRoot();
}

std::string TBRNFilterExpr::GetKindName() const {
  return "filter expression";
}

TBRNConfigObject* TBRNFilterExpr::GetOwnerTable() const {
  return Filter.GetCursor().GetFilterTable().GetBaseTable();
}

TBRNParseFlags TBRNFilterExpr::GetParseFlags() const {
  return kCatalogExprFlags | pcContains | pcQueries | pcRowValues;
}

void TBRNFilterExpr::GetContextTableName(const TBRNExprToken*, std::string& Name) {
  Name = Filter.GetCursor().GetFilterTable().GetBaseTable()->Name;
}

void TBRNFilterExpr::ResolveToken(TBRNExprToken* Node, TBRNExprTokenKind Kind) {
  TBRNCatalogExpr::ResolveToken(Node, Kind);
}

int32_t TBRNFilterExpr::GetRowSize() {
  return Filter.GetCursor().GetFilterTable().GetRowSize();
}

int32_t TBRNFilterExpr::GetRowCount() {
  return Filter.GetCursor().GetFilterTable().GetRowCount();
}

void TBRNFilterExpr::GetScanTableName(std::string& Text) {
  Text = Filter.GetCursor().GetFilterTable().GetBaseTable()->Name;
}

void TBRNFilterExpr::TextChanged() {
  // The text is the filter's own: no catalog object changes with it.
  TBRNCompiledExpr::TextChanged();
}

void TBRNFilterExpr::AnalyzeIndexCondition(TBRNExprToken* Node, bool IncludeCosts) {
  TBRNLocalExprEvaluator& evaluator = *Filter.Evaluator;
  TBRNEvaluationScope scope(evaluator, *Filter.Context);
  NoCurrentRow noRow(Filter);
  TBRNTableManager& table = Filter.GetCursor().GetFilterTable();
  const std::string tableName = table.GetBaseTable()->Name;

  if (!ContainsColumnReference(Node)) {
    if (Node->Parent != nullptr && isAndOr(Node->Parent, opAnd)) {
      evaluator.Prepare(Node);
      evaluator.Evaluate(Node);
      if (!isTruth(Node->Value)) {
        Node->OptimizeLevel = 0;
        Node->IndexNumber = -1;
        Node->ScanName.clear();
        Node->HintColumns.clear();
        if (IncludeCosts) {
          Node->RowCount = 0;
          Node->EstimatedCost = 0;
        }
      }
    }
    return;
  }
  const bool candidate = (isComparison(Node) && Node->Left()->Kind == tkColumnReference &&
                          !ContainsCorrelatedQuery(Node->Right())) ||
                         (Node->Kind == tkPredicate && Node->ArgumentCount() > 0 &&
                          Node->Argument(0) && Node->Argument(0)->Kind == tkColumnReference);
  if (!candidate) return;
  TBRNExprToken* column = columnOperand(Node);
  const bool textSearch = isTextSearch(Node);
  if ((Node->Operation == opIn || Node->Operation == opNotIn) && Node->ArgumentCount() > 1 &&
      Node->Argument(1) && Node->Argument(1)->Kind == tkQuery)
    return;
  const int32_t index = textSearch ? Filter.FindTextIndexFor(column) : Filter.FindIndexFor(column);
  if (index < 0) {
    Node->HintColumns = column->Text.empty() ? column->Name : column->Text;
    return;
  }
  Node->IndexNumber = index;
  Node->OptimizeLevel = 2;
  Node->ScanName = tableName + "." + table.GetIndexes()->GetItem(index)->Name;
  Node->Variant = 0;
  if (Node->Operation == opLike || Node->Operation == opNotLike) Node->PartialLength = 0;
  if (!IncludeCosts || !Estimates) return;
  Node->RowCount = Filter.CountConditionKeys(Node);
  TBRNFilterIndexNavigator& navigator = Filter.GetKeyNavigator(index);
  TBRNIndexManager& file = *navigator.GetIndexFile();
  const int64_t keys = std::max(1, file.GetKeyCount());
  const int64_t leaves = std::max(1, file.GetLeafPageCount());
  const int64_t perPage = std::max<int64_t>(1, keys / leaves);
  const int64_t n = Node->RowCount;
  const int64_t pages = n <= perPage ? 1 : (n + perPage - 1) / perPage;
  Node->EstimatedCost = pages * file.GetBlockSize();
  if (Node->Operation == opNotContain || Node->Operation == opNotContainAny)
    Node->EstimatedCost += int64_t(GetRowSize()) * n;
}

// ---------------------------------------------------------------------------
// TBRNQueryFilterExpr

TBRNQueryFilterExpr::~TBRNQueryFilterExpr() {
  // A tree the query owns stays with the query.
  if (!OwnsTree) Root = nullptr;
}

// ---------------------------------------------------------------------------
// TBRNExprFilter

TBRNExprFilter::TBRNExprFilter(TBRNFilterCursor& Cursor, TBRNEvaluatorContext& SourceContext)
    : TBRNLocalFilter(Cursor), Evaluator(&Cursor.GetFilterEvaluator()) {
  Kind = 1;
  Context = std::make_unique<TBRNEvaluatorContext>();
  Context->DefaultDatabase = SourceContext.CurrentDatabase;
  Context->CurrentDatabase = SourceContext.CurrentDatabase;
  Context->TextSearchTable = SourceContext.TextSearchTable;
  Context->CurrentTable = Cursor.GetFilterTable().GetBaseTable();
  Context->CurrentRows.resize(1);
}

TBRNExprFilter::~TBRNExprFilter() {
  try {
    Unprepare();
  } catch (...) {
    // A destructor does not raise; the tree is freed with Expr.
  }
  Expr.reset();
  Context.reset();
}

std::unique_ptr<TBRNFilterExpr> TBRNExprFilter::CreateFilterExpr() {
  return std::make_unique<TBRNFilterExpr>(*this);
}

void TBRNExprFilter::SetCondition(const std::string& Text) {
  if (!Expr) Expr = CreateFilterExpr();
  Expr->SetText(Text);
  Expr->Compile();
  Expr->PrepareFilter(Expr->CaseInsensitive, Expr->NoPartialCompare);
}

void TBRNExprFilter::Prepare(int32_t) {
  Programs.clear();
  if (!Expr || Expr->Root == nullptr) return;
  TBRNEvaluationScope scope(*Evaluator, *Context);
  NoCurrentRow noRow(*this);
  Evaluator->Prepare(Expr->Root);
}

void TBRNExprFilter::Unprepare() {
  Programs.clear();
  if (!Expr || Expr->Root == nullptr || !Expr->OwnsRoot()) return;
  TBRNEvaluationScope scope(*Evaluator, *Context);
  Evaluator->Unprepare(Expr->Root);
}

void TBRNExprFilter::Optimize() {
  if (!Expr || Expr->Root == nullptr) {
    Level = 0;
    return;
  }
  Prepare(-1);
  Expr->IncludeCosts = Expr->Estimates;
  Expr->OptimizeConditions();
  Level = Expr->Root->OptimizeLevel;
}

void TBRNExprFilter::Build(int32_t Mode, int32_t) {
  if (!Expr || Expr->Root == nullptr) return;
  // Optimize prepared the tree already; a kept tree needs no second walk.
  if (!keepPrograms_) Prepare(-1);
  BuildConditionSet(*Rows, Expr->Root, Mode);
}

bool TBRNExprFilter::RowPasses(const TBRNRowValues& RowValues) {
  if (!Expr || Expr->Root == nullptr) return true;
  TBRNEvaluationScope scope(*Evaluator, *Context);
  SyncOuterRows();
  const size_t slot = size_t(RowSlot);
  const TBRNValues* previous = Context->CurrentRows[slot];
  struct Restore {
    TBRNEvaluatorContext& Context;
    size_t Slot;
    const TBRNValues* Previous;
    ~Restore() { Context.CurrentRows[Slot] = Previous; }
  } restore{*Context, slot, previous};
  Context->CurrentRows[slot] = &RowValues;
  Evaluator->Prepare(Expr->Root);
  if (TBRNExprProgram* program = programFor(Expr->Root)) return program->Test(*Evaluator);
  Evaluator->Evaluate(Expr->Root);
  return isTruth(Expr->Root->Value);
}

void TBRNExprFilter::SyncOuterRows() {
  TBRNCurrentRows& rows = Context->CurrentRows;
  size_t count = size_t(RowSlot) + 1;
  if (OuterContext != nullptr) count = std::max(count, OuterContext->CurrentRows.size());
  if (rows.size() < count) rows.resize(count);
  if (OuterContext == nullptr) return;
  const TBRNCurrentRows& outer = OuterContext->CurrentRows;
  for (size_t i = 0; i < outer.size(); ++i)
    if (i != size_t(RowSlot)) rows[i] = outer[i];
}

TBRNExprProgram* TBRNExprFilter::programFor(TBRNExprToken* Node) {
  for (const auto& entry : Programs)
    if (entry.first == Node) return entry.second.get();
  Programs.emplace_back(Node, TBRNExprProgram::Compile(*Evaluator, Node));
  return Programs.back().second.get();
}

void TBRNExprFilter::AddRow(int32_t RowNo, const TBRNRowValues& RowValues) {
  TBRNLocalFilter::AddRow(RowNo, RowValues);
  if (!RowPasses(RowValues)) Rows->ClearBit(RowNo, true);
}

int32_t TBRNExprFilter::FindIndexFor(const TBRNExprToken* Node) {
  TBRNIndexes* indexes = Cursor.GetFilterTable().GetIndexes();
  if (indexes == nullptr || Node == nullptr) return -1;
  const int32_t index = indexes->FindBestIndex(Node);
  if (index >= 0 && indexes->GetItem(index)->IndexType == kIndexText) return -1;
  return index;
}

int32_t TBRNExprFilter::FindTextIndexFor(const TBRNExprToken* Node) {
  TBRNIndexes* indexes = Cursor.GetFilterTable().GetIndexes();
  if (indexes == nullptr || Node == nullptr) return -1;
  const int32_t index = indexes->FindTextIndex(Node);
  return index;
}

TBRNFilterIndexNavigator* TBRNExprFilter::GetDefaultKeyNavigator() {
  TBRNIndexes* indexes = Cursor.GetFilterTable().GetIndexes();
  if (indexes == nullptr || indexes->Count() == 0) return nullptr;
  int32_t index = indexes->IndexOfType(kIndexPrimaryKey);
  if (index < 0) index = 0;
  return &GetKeyNavigator(index);
}

// ---------------------------------------------------------------------------
// TBRNQueryFilter

std::unique_ptr<TBRNFilterExpr> TBRNQueryFilter::CreateFilterExpr() {
  return std::make_unique<TBRNQueryFilterExpr>(*this);
}

// ---------------------------------------------------------------------------
// Key counts

namespace {

// Runs count until no restart is asked for.
int32_t countKeys(const std::function<int32_t(bool&)>& count) {
  for (int32_t attempt = 0;; ++attempt) {
    bool restart = false;
    const int32_t result = count(restart);
    if (!restart) return result;
    if (attempt > 1000) throw std::runtime_error("key count: the index keeps changing");
  }
}

}  // namespace

int32_t TBRNExprFilter::CountConditionKeys(TBRNExprToken* Node) {
  // The Read lock keeps other processes from flushing the index while its
  // pages are counted; it is let go on every path.
  TBRNTableManager& table = Cursor.GetFilterTable();
  table.BeginRead();
  int32_t result = 0;
  try {
    result = countConditionKeys(Node);
  } catch (...) {
    try {
      table.EndRead();
    } catch (...) {
      // The count's own failure is the one reported.
    }
    throw;
  }
  table.EndRead();
  return result;
}

int32_t TBRNExprFilter::countConditionKeys(TBRNExprToken* Node) {
  TBRNFilterIndexNavigator& navigator = GetKeyNavigator(Node->IndexNumber);
  const int32_t total = navigator.GetIndexFile()->GetKeyCount();
  const bool standard = Evaluator->StandardNullBehavior;
  TBRNExprToken* column = columnOperand(Node);
  const bool ci = column->IsCaseInsensitive();
  const bool descending = navigator.GetLayout().GetColumn(0).Descending;
  TBRNContainedIndexKeyValues& key = *navigator.KeyValues;
  auto load = [&key](const TBRNValue* value) {
    if (value == nullptr || value->GetNull())
      key.GetItem(0)->SetNull(true);
    else
      key.GetItem(0)->AssignConverting(*value);
  };
  auto below = [&](const TBRNValue* value, int32_t partial) {
    load(value);
    return countKeys(
        [&](bool& restart) { return navigator.CountKeysBelow(key, partial, ci, restart); });
  };
  auto upTo = [&](const TBRNValue* value, int32_t partial) {
    load(value);
    return countKeys(
        [&](bool& restart) { return navigator.CountKeysUpTo(key, partial, ci, restart); });
  };
  auto valueOf = [this](TBRNExprToken* operand) -> const TBRNValue* {
    if (operand == nullptr) return nullptr;
    Evaluator->Prepare(operand);
    Evaluator->Evaluate(operand);
    return operand->Value;
  };
  auto isNull = [](const TBRNValue* v) { return v == nullptr || v->GetNull(); };
  const int32_t partial = Node->PartialLength;
  int64_t result = 0;
  switch (Node->Operation) {
    case opEqual:
    case opNotEqual:
    case opGreaterOrEqual:
    case opGreater:
    case opLessOrEqual:
    case opLess: {
      const TBRNValue* k = valueOf(Node->Right());
      if (standard && isNull(k)) return 0;
      const int64_t b = below(k, partial);
      const int64_t u = upTo(k, partial);
      switch (Node->Operation) {
        case opEqual:
          result = u - b;
          break;
        case opNotEqual:
          result = b + total - u;
          break;
        case opGreaterOrEqual:
          result = descending ? u : total - b;
          break;
        case opGreater:
          result = descending ? b : total - u;
          break;
        case opLessOrEqual:
          result = descending ? total - b : u;
          break;
        default:
          result = descending ? total - u : b;
          break;
      }
      break;
    }
    case opBetween:
    case opNotBetween: {
      const TBRNValue* a = valueOf(Node->Argument(1));
      const TBRNValue* c = valueOf(Node->Argument(2));
      if (standard && (isNull(a) || isNull(c))) return 0;
      const int64_t lowBelow = below(descending ? c : a, 0);
      const int64_t highUpTo = upTo(descending ? a : c, 0);
      result = Node->Operation == opBetween ? highUpTo - lowBelow : lowBelow + total - highUpTo;
      break;
    }
    case opIn:
      for (int32_t i = 1; i < Node->ArgumentCount(); ++i) {
        const TBRNValue* k = valueOf(Node->Argument(i));
        if (isNull(k) && standard) continue;
        result += upTo(k, 0) - below(k, 0);
      }
      break;
    case opNotIn:
      result = total;
      break;
    case opIsNull:
      result = upTo(nullptr, 0) - below(nullptr, 0);
      break;
    case opIsNotNull:
      result = below(nullptr, 0) + total - upTo(nullptr, 0);
      break;
    case opLike:
    case opNotLike: {
      const TBRNValue* pattern = valueOf(Node->Argument(1));
      if (standard && isNull(pattern)) return 0;
      const char escape = likeEscape(*Evaluator, Node);
      std::string text = isNull(pattern) ? std::string() : pattern->GetAsString();
      const bool prefixPath = plainCollation(column->Collation) == 0 &&
                              text.find('_') == std::string::npos &&
                              HasOnlyTrailingWildcard(text, '%', escape);
      if (prefixPath) {
        const int32_t length = StripTrailingWildcard(text, '%', escape);
        Node->Variant = 1;
        Node->PartialLength = length;
        if (length > 0) {
          TBRNContainedIndexKeyValues& k = key;
          k.GetItem(0)->SetAsString(text);
          const int64_t b =
              countKeys([&](bool& r) { return navigator.CountKeysBelow(k, length, ci, r); });
          k.GetItem(0)->SetAsString(text);
          const int64_t u =
              countKeys([&](bool& r) { return navigator.CountKeysUpTo(k, length, ci, r); });
          result = Node->Operation == opLike ? u - b : b + total - u;
        } else {
          result = Node->Operation == opLike ? below(nullptr, 0) + total - upTo(nullptr, 0) : 0;
        }
      } else {
        Node->Variant = 0;
        Node->PartialLength = 0;
        result = total;
      }
      break;
    }
    case opContains:
    case opContainsAny:
    case opNotContain:
    case opNotContainAny: {
      const TBRNValue* search = valueOf(Node->Argument(1));
      TBRNIndex* index = Cursor.GetFilterTable().GetIndexes()->GetItem(Node->IndexNumber);
      std::unique_ptr<TBRNWordList> words =
          index->BuildWordList(isNull(search) ? std::string() : search->GetAsString(), true);
      bool inner = false;
      bool trailing = false;
      const int32_t count = words ? words->GetCount() : 0;
      for (int32_t i = 0; i < count; ++i) {
        const std::string& word = words->GetWord(i).GetText();
        const size_t star = word.find('*');
        if (star != std::string::npos && star + 1 < word.size()) inner = true;
        if (!word.empty() && word.back() == '*') trailing = true;
      }
      const int32_t collation = navigator.GetLayout().GetColumn(0).Collation;
      if (!inner && (!trailing || plainCollation(collation) == 0)) {
        Node->Variant = 1;
        for (int32_t i = 0; i < count; ++i) {
          std::string word = words->GetWord(i).GetText();
          int32_t length = 0;
          if (!word.empty() && word.back() == '*') {
            word.pop_back();
            length = int32_t(word.size());
          }
          key.GetItem(0)->SetAsString(word);
          const int64_t b =
              countKeys([&](bool& r) { return navigator.CountKeysBelow(key, length, ci, r); });
          key.GetItem(0)->SetAsString(word);
          const int64_t u =
              countKeys([&](bool& r) { return navigator.CountKeysUpTo(key, length, ci, r); });
          result += u - b;
        }
      } else {
        Node->Variant = 0;
        result = total;
      }
      break;
    }
    default:
      result = total;
      break;
  }
  if (result < 0) result = total;
  return int32_t(std::min<int64_t>(result, std::numeric_limits<int32_t>::max()));
}

// ---------------------------------------------------------------------------
// Building sets

namespace {

// One walk over the keys of an index: positions (First, Last or a seek),
// steps forward or backward while cont(key) holds, and adds the rows of the
// keys for which accept(key) holds. Restarts begin again from an empty set.
struct KeyWalk {
  enum class Start { First, Last, Seek };
  Start From = Start::First;
  bool Forward = true;
  const TBRNValue* SeekValue = nullptr;
  int32_t PartialLength = 0;
  bool CaseInsensitive = false;
};

//
// Alone: rows holds nothing but what this walk adds (it was emptied before),
// so the walk adds to it directly and empties it again on a restart.
// Otherwise the walk adds to what rows holds. With restarted given, a
// restart sets it and ends the walk, so that the caller starts over.
void runWalk(TBRNFilterIndexNavigator& navigator, TBRNSparseBitmap& rows, const KeyWalk& walk,
             const std::function<bool(const TBRNValue&)>& cont,
             const std::function<bool(const TBRNValue&)>& accept, int64_t& keysVisited,
             bool alone = true, bool* restarted = nullptr) {
  std::unique_ptr<TBRNSparseBitmap> apart;
  if (!alone && restarted == nullptr) apart = std::make_unique<TBRNSparseBitmap>(true, true, 0);
  for (int32_t attempt = 0;; ++attempt) {
    TBRNSparseBitmap& found = apart ? *apart : rows;
    if (alone || apart) found.ClearAll();
    found.Size = rows.Size;
    bool restart = false;
    bool positioned = false;
    switch (walk.From) {
      case KeyWalk::Start::First:
        positioned = navigator.First(restart);
        break;
      case KeyWalk::Start::Last:
        positioned = navigator.Last(restart);
        break;
      case KeyWalk::Start::Seek: {
        TBRNContainedIndexKeyValues& key = *navigator.KeyValues;
        for (int32_t i = 0; i < key.GetCount(); ++i) key.GetItem(i)->SetNull(true);
        if (walk.SeekValue != nullptr && !walk.SeekValue->GetNull())
          key.GetItem(0)->AssignConverting(*walk.SeekValue);
        navigator.FindKey(key, walk.PartialLength, restart, walk.CaseInsensitive);
        positioned = true;
        break;
      }
    }
    if (!restart && positioned) {
      while (navigator.GetRowNumber() > 0) {
        const TBRNValue& value = *navigator.GetCurrentKey().GetItem(0);
        if (!cont(value)) break;
        ++keysVisited;
        if (accept(value)) navigator.AddCurrentRow(found);
        const bool moved = walk.Forward ? navigator.Next(restart) : navigator.Prior(restart);
        if (!moved) break;
      }
    }
    if (!restart) {
      if (apart) rows.OrBitmap(found);
      return;
    }
    if (restarted != nullptr) {
      // The caller repeats its whole build.
      *restarted = true;
      return;
    }
    if (attempt > 1000) throw std::runtime_error("index walk: the index keeps changing");
  }
}

}  // namespace

void TBRNExprFilter::BuildConditionSet(TBRNSparseBitmap& Rows, TBRNExprToken* Node, int32_t Mode) {
  if (Rows.Size <= 0 || Node == nullptr) return;
  TBRNEvaluationScope scope(*Evaluator, *Context);
  NoCurrentRow noRow(*this);
  TBRNLocalExprEvaluator& evaluator = *Evaluator;
  const bool standard = evaluator.StandardNullBehavior;

  auto valueOf = [&evaluator](TBRNExprToken* operand) -> const TBRNValue* {
    if (operand == nullptr) return nullptr;
    evaluator.Evaluate(operand);
    return operand->Value;
  };
  auto rowByRow = [&]() {
    TBRNFilterRowsetNavigator& scan = GetScanNavigator();
    const int64_t before = scan.RowsRead;
    scan.EvaluateRows(Rows, Mode, evaluator, *Context, Node, RowSlot, programFor(Node));
    RowsRead += scan.RowsRead - before;
  };

  // MIN and MAX of a column: the row holding the lowest or highest value.
  if (Node->Kind == tkFunction && (Node->Operation == opMin || Node->Operation == opMax) &&
      Node->ArgumentCount() > 0 && Node->Argument(0) &&
      Node->Argument(0)->Kind == tkColumnReference) {
    const int32_t index = FindIndexFor(Node->Argument(0));
    if (index >= 0) {
      TBRNFilterIndexNavigator& navigator = GetKeyNavigator(index);
      const bool descending = navigator.GetLayout().GetColumn(0).Descending;
      const bool fromStart = (Node->Operation == opMin) != descending;
      int32_t found = 0;
      for (int32_t attempt = 0;; ++attempt) {
        bool restart = false;
        found = 0;
        bool positioned = fromStart ? navigator.First(restart) : navigator.Last(restart);
        while (!restart && positioned && navigator.GetRowNumber() > 0) {
          const int32_t row = navigator.GetRowNumber();
          ++KeysVisited;
          if (!navigator.GetCurrentKey().GetItem(0)->GetNull() &&
              (Mode != kModeCandidates || Rows.IsBitSet(row))) {
            found = row;
            break;
          }
          positioned = fromStart ? navigator.Next(restart) : navigator.Prior(restart);
        }
        if (!restart) break;
        if (attempt > 1000) throw std::runtime_error("index walk: the index keeps changing");
      }
      if (found > 0) {
        Rows.ClearAll();
        if (found <= Rows.Size) Rows.SetBit(found);
      } else if (Mode != kModeCandidates) {
        Rows.ClearAll();
      }
      return;
    }
  }

  // A node without columns: all rows or none.
  if (!ContainsColumnReference(Node)) {
    if (!isTruth(valueOf(Node))) {
      Rows.ClearAll();
      return;
    }
    if (Mode == kModeCandidates) return;
    TBRNIndexes* indexes = Cursor.GetFilterTable().GetIndexes();
    TBRNFilterIndexNavigator* navigator = GetDefaultKeyNavigator();
    // A text index keys words, not rows: rows without words have no key.
    if (navigator != nullptr &&
        indexes->GetItem(navigator->GetIndexNumber())->IndexType != kIndexText) {
      Rows.ClearAll();
      runWalk(
          *navigator, Rows, KeyWalk{}, [](const TBRNValue&) { return true; },
          [](const TBRNValue&) { return true; }, KeysVisited);
    } else {
      GetScanNavigator().RemoveDeletedRows(Rows, 0);
    }
    return;
  }

  if (Node->OptimizeLevel <= 0) {
    rowByRow();
    return;
  }

  // Index-based parts build their own set; in Mode 2 the result is then
  // cut to the candidates, so that no shape adds a row the earlier filters
  // removed.
  std::unique_ptr<TBRNSparseBitmap> candidates;
  if (Mode == kModeCandidates) {
    candidates = std::make_unique<TBRNSparseBitmap>(true, true, 0);
    candidates->Assign(Rows);
  }
  auto finish = [&]() {
    if (candidates) Rows.AndBitmap(*candidates);
  };

  if (isAndOr(Node, opAnd)) {
    TBRNSparseBitmap t(true, true, 0);
    t.Size = Rows.Size;
    TBRNExprToken* left = Node->Left();
    if (Mode == kModeCandidates) {
      // The left operand narrows a copy of the candidates.
      t.Assign(Rows);
      BuildConditionSet(t, left, kModeCandidates);
      t.AndBitmap(Rows);
    } else {
      // From nothing, whatever the left operand's level: built in Mode 2
      // into an empty set it would yield nothing.
      BuildConditionSet(t, left, 0);
    }
    Rows.Assign(t);
    BuildConditionSet(Rows, Node->Right(), kModeCandidates);
    Rows.AndBitmap(t);
    finish();
    return;
  }
  if (isAndOr(Node, opOr)) {
    TBRNSparseBitmap t(true, true, 0);
    t.Size = Rows.Size;
    BuildConditionSet(t, Node->Left(), 0);
    Rows.ClearAll();
    BuildConditionSet(Rows, Node->Right(), 0);
    Rows.OrBitmap(t);
    finish();
    return;
  }

  const int32_t index = Node->IndexNumber >= 0
                            ? Node->IndexNumber
                            : (isTextSearch(Node) ? FindTextIndexFor(columnOperand(Node))
                                                  : FindIndexFor(columnOperand(Node)));
  if (index < 0) {
    rowByRow();
    return;
  }
  TBRNFilterIndexNavigator& navigator = GetKeyNavigator(index);
  const TBRNIndexKeyLayout& layout = navigator.GetLayout();
  const bool descending = layout.GetColumn(0).Descending;
  TBRNExprToken* column = columnOperand(Node);
  const int32_t collation = column->Collation;
  const bool ci = column->IsCaseInsensitive();
  const int32_t partial = Node->PartialLength;
  auto compare = [&](const TBRNValue& key, const TBRNValue& value, int32_t length) {
    return TBRNExprEvaluator::CompareValues(key, value, length, collation);
  };
  auto always = [](const TBRNValue&) { return true; };
  // A NULL key takes part in comparisons only without standard NULLs,
  // where the evaluator compares NULL as the lowest value.
  auto nullOut = [standard](const TBRNValue& key) { return standard && key.GetNull(); };

  // Shapes the walks below do not answer are evaluated row by row.
  const bool walkable = Node->Kind == tkOperator ? isComparison(Node) : Node->Kind == tkPredicate;
  // Without standard NULLs the evaluator matches a NULL text or pattern
  // through the value's character buffer; only the row itself tells.
  const bool nullSensitiveLike =
      !standard && (Node->Operation == opLike || Node->Operation == opNotLike);
  if (!walkable || column == nullptr || nullSensitiveLike) {
    rowByRow();
    return;
  }
  Rows.ClearAll();
  auto fullWalk = [&](const std::function<bool(const TBRNValue&)>& accept) {
    runWalk(navigator, Rows, KeyWalk{}, always, accept, KeysVisited);
  };
  auto seekEqual = [&](const TBRNValue* k, int32_t length, bool alone, bool* restarted) {
    KeyWalk walk;
    walk.From = KeyWalk::Start::Seek;
    walk.SeekValue = k;
    walk.PartialLength = length;
    walk.CaseInsensitive = ci;
    auto equal = [&, k, length](const TBRNValue& key) { return compare(key, *k, length) == 0; };
    runWalk(navigator, Rows, walk, equal, equal, KeysVisited, alone, restarted);
  };

  switch (Node->Operation) {
    case opEqual:
    case opNotEqual:
    case opGreaterOrEqual:
    case opGreater:
    case opLessOrEqual:
    case opLess: {
      const TBRNValue* k = valueOf(Node->Right());
      if (k == nullptr || (standard && k->GetNull())) break;
      const TBRNExprOperation op = Node->Operation;
      auto test = [&, k, op](const TBRNValue& key) {
        if (nullOut(key)) return false;
        const int32_t c = compare(key, *k, partial);
        switch (op) {
          case opEqual:
            return c == 0;
          case opNotEqual:
            return c != 0;
          case opGreaterOrEqual:
            return c >= 0;
          case opGreater:
            return c > 0;
          case opLessOrEqual:
            return c <= 0;
          default:
            return c < 0;
        }
      };
      if (op == opEqual) {
        seekEqual(k, partial, true, nullptr);
      } else if (!descending && (op == opGreaterOrEqual || op == opGreater) && !k->GetNull()) {
        KeyWalk walk;
        walk.From = KeyWalk::Start::Seek;
        walk.SeekValue = k;
        walk.PartialLength = partial;
        walk.CaseInsensitive = ci;
        runWalk(navigator, Rows, walk, always, test, KeysVisited);
      } else if (!descending && (op == opLess || op == opLessOrEqual)) {
        auto cont = [&, k, op](const TBRNValue& key) {
          if (key.GetNull()) return true;
          const int32_t c = compare(key, *k, partial);
          return op == opLess ? c < 0 : c <= 0;
        };
        runWalk(navigator, Rows, KeyWalk{}, cont, test, KeysVisited);
      } else {
        fullWalk(test);
      }
      break;
    }
    case opBetween:
    case opNotBetween: {
      const TBRNValue* a = valueOf(Node->Argument(1));
      const TBRNValue* b = valueOf(Node->Argument(2));
      if (a == nullptr || b == nullptr || (standard && (a->GetNull() || b->GetNull()))) break;
      const bool between = Node->Operation == opBetween;
      auto test = [&, a, b, between](const TBRNValue& key) {
        if (nullOut(key)) return false;
        const bool inside = compare(key, *a, 0) >= 0 && compare(key, *b, 0) <= 0;
        return inside == between;
      };
      if (between && !descending && !a->GetNull()) {
        KeyWalk walk;
        walk.From = KeyWalk::Start::Seek;
        walk.SeekValue = a;
        walk.CaseInsensitive = ci;
        auto cont = [&, b](const TBRNValue& key) { return compare(key, *b, 0) <= 0; };
        runWalk(navigator, Rows, walk, cont, test, KeysVisited);
      } else {
        fullWalk(test);
      }
      break;
    }
    case opIn: {
      // The items' rows go straight into Rows; a restart during any item
      // empties Rows and walks every item again.
      for (int32_t attempt = 0;; ++attempt) {
        Rows.ClearAll();
        bool restarted = false;
        for (int32_t i = 1; i < Node->ArgumentCount() && !restarted; ++i) {
          const TBRNValue* k = valueOf(Node->Argument(i));
          if (k == nullptr || (standard && k->GetNull())) continue;
          seekEqual(k, partial, false, &restarted);
        }
        if (!restarted) break;
        if (attempt > 1000) throw std::runtime_error("index walk: the index keeps changing");
      }
      break;
    }
    case opNotIn: {
      std::vector<const TBRNValue*> items;
      for (int32_t i = 1; i < Node->ArgumentCount(); ++i) {
        const TBRNValue* k = valueOf(Node->Argument(i));
        if (k == nullptr || (standard && k->GetNull())) continue;
        items.push_back(k);
      }
      fullWalk([&](const TBRNValue& key) {
        if (nullOut(key)) return false;
        for (const TBRNValue* k : items)
          if (compare(key, *k, partial) == 0) return false;
        return true;
      });
      break;
    }
    case opIsNull:
    case opIsNotNull: {
      const bool wantNull = Node->Operation == opIsNull;
      auto test = [wantNull](const TBRNValue& key) { return key.GetNull() == wantNull; };
      if (wantNull) {
        // NULL keys lie at the start of an ascending index, at the end of a
        // descending one.
        KeyWalk walk;
        walk.From = descending ? KeyWalk::Start::Last : KeyWalk::Start::First;
        walk.Forward = !descending;
        runWalk(navigator, Rows, walk, test, test, KeysVisited);
      } else {
        fullWalk(test);
      }
      break;
    }
    case opLike:
    case opNotLike: {
      const TBRNValue* pattern = valueOf(Node->Argument(1));
      if (pattern == nullptr || (standard && pattern->GetNull())) break;
      const char escape = likeEscape(evaluator, Node);
      const std::string text = likeText(*pattern);
      const bool like = Node->Operation == opLike;
      auto test = [&, like](const TBRNValue& key) {
        if (nullOut(key)) return false;
        return MatchLikePattern(key.GetNull() ? collation : key.GetCollation(), likeText(key), text,
                                '%', '_', escape) == like;
      };
      if (Node->Variant == 1 && like && !descending && partial > 0) {
        std::string prefix = text;
        StripTrailingWildcard(prefix, '%', escape);
        TBRNContainedIndexKeyValues seekKey(layout);
        seekKey.GetItem(0)->SetAsString(prefix);
        KeyWalk walk;
        walk.From = KeyWalk::Start::Seek;
        walk.SeekValue = seekKey.GetItem(0);
        walk.PartialLength = partial;
        walk.CaseInsensitive = ci;
        auto cont = [&, partial](const TBRNValue& key) {
          return !key.GetNull() && compare(key, *seekKey.GetItem(0), partial) == 0;
        };
        runWalk(navigator, Rows, walk, cont, test, KeysVisited);
      } else {
        fullWalk(test);
      }
      break;
    }
    case opContains:
    case opContainsAny:
    case opNotContain:
    case opNotContainAny: {
      const TBRNValue* search = valueOf(Node->Argument(1));
      TBRNIndex* definition = Cursor.GetFilterTable().GetIndexes()->GetItem(index);
      std::unique_ptr<TBRNWordList> words = definition->BuildWordList(
          search == nullptr || search->GetNull() ? std::string() : search->GetAsString(), true);
      const int32_t count = words ? words->GetCount() : 0;
      const bool all = Node->Operation == opContains || Node->Operation == opNotContain;
      const int32_t wordCollation = layout.GetColumn(0).Collation;
      for (int32_t i = 0; i < count; ++i) {
        TBRNSparseBitmap wordRows(true, true, 0);
        wordRows.Size = Rows.Size;
        std::string word = words->GetWord(i).GetText();
        if (Node->Variant == 1) {
          int32_t length = 0;
          if (!word.empty() && word.back() == '*') {
            word.pop_back();
            length = int32_t(word.size());
          }
          TBRNContainedIndexKeyValues seekKey(layout);
          seekKey.GetItem(0)->SetAsString(word);
          KeyWalk walk;
          walk.From = KeyWalk::Start::Seek;
          walk.SeekValue = seekKey.GetItem(0);
          walk.PartialLength = length;
          walk.CaseInsensitive = ci;
          auto equal = [&, length](const TBRNValue& key) {
            return !key.GetNull() &&
                   key.Compare(*seekKey.GetItem(0), length, ci, wordCollation) == 0;
          };
          runWalk(navigator, wordRows, walk, equal, equal, KeysVisited);
        } else {
          runWalk(
              navigator, wordRows, KeyWalk{}, always,
              [&](const TBRNValue& key) {
                return !key.GetNull() &&
                       MatchLikePattern(wordCollation, key.GetAsString(), word, '*', 0, 0);
              },
              KeysVisited);
        }
        if (i == 0)
          Rows.Assign(wordRows);
        else if (all)
          Rows.AndBitmap(wordRows);
        else
          Rows.OrBitmap(wordRows);
        Rows.Size = wordRows.Size;
      }
      if (Node->Operation == opNotContain || Node->Operation == opNotContainAny) {
        if (count > 0) {
          Rows.Invert();
          // Under standard NULLs a NULL text does not pass DOES NOT CONTAIN
          // (its result is NULL); such rows have no words to exclude them.
          TBRNFilterRowsetNavigator& scan = GetScanNavigator();
          const int64_t before = scan.RowsRead;
          if (standard)
            scan.RemoveNullRows(Rows, column->Index);
          else
            scan.RemoveDeletedRows(Rows, kModeCandidates);
          RowsRead += scan.RowsRead - before;
        }
      }
      break;
    }
    default:
      if (candidates) Rows.Assign(*candidates);
      rowByRow();
      return;
  }
  finish();
}

}  // namespace brn
