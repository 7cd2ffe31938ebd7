#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "execution/filters/local_filter.h"
#include "metadata/catalog/catalog_expr.h"

namespace brn {

class TBRNEvaluatorContext;
class TBRNExprFilter;
class TBRNExprProgram;
class TBRNLocalExprEvaluator;

// A search condition on a cursor's table, compiled against the table's
// columns. OptimizeConditions annotates its nodes with the index that can
// answer them (level, estimated rows and cost, index number, variant and
// partial length of LIKE and text search); BuildConditionSet of its filter
// reads those annotations. With Estimates off the analysis still chooses
// indexes but counts no keys (LIKE and text search then scan keys).
class TBRNFilterExpr : public TBRNCatalogExpr {
 public:
  explicit TBRNFilterExpr(TBRNExprFilter& Filter);
  ~TBRNFilterExpr() override;

  TBRNExprFilter& Filter;
  // Counts keys for the estimates of the analysis (the optimisation flag of
  // the filter's creator).
  bool Estimates = true;
  // The options PrepareFilter applies when the condition is compiled: text
  // comparisons without case, and no prefix comparison for a text ending
  // in "*".
  bool CaseInsensitive = false;
  bool NoPartialCompare = false;

  std::string GetKindName() const override;
  TBRNConfigObject* GetOwnerTable() const override;
  TBRNParseFlags GetParseFlags() const override;
  void GetContextTableName(const TBRNExprToken* Node, std::string& Name) override;
  void ResolveToken(TBRNExprToken* Node, TBRNExprTokenKind Kind) override;
  int32_t GetRowSize() override;
  int32_t GetRowCount() override;
  void GetScanTableName(std::string& Text) override;
  void AnalyzeIndexCondition(TBRNExprToken* Node, bool IncludeCosts) override;
  void TextChanged() override;
};

// The filter expression of a query's WHERE condition; a tree the query owns
// (OwnsTree false) is neither unprepared nor freed by the filter.
class TBRNQueryFilterExpr : public TBRNFilterExpr {
 public:
  using TBRNFilterExpr::TBRNFilterExpr;
  ~TBRNQueryFilterExpr() override;
  bool OwnsRoot() const override { return OwnsTree; }
  bool OwnsTree = true;
};

// A filter defined by a search condition (Kind 1; Level: that of the
// optimised condition's root). The set is built by BuildConditionSet:
// index-answerable nodes by index walks and key scans, the rest row by row,
// combined along AND and OR.
//
// Typical use: SetCondition(text) (compiles; parse and validation errors
// pass on), Optimize() (annotates, sets Level), then the list builds it.
class TBRNExprFilter : public TBRNLocalFilter {
 public:
  TBRNExprFilter(TBRNFilterCursor& Cursor, TBRNEvaluatorContext& SourceContext);
  ~TBRNExprFilter() override;

  virtual std::unique_ptr<TBRNFilterExpr> CreateFilterExpr();

  // Sets the condition text and compiles it.
  void SetCondition(const std::string& Text);

  void Prepare(int32_t IndexNo) override;
  void Unprepare() override;
  void Optimize() override;
  void Build(int32_t Mode, int32_t IndexNo) override;
  bool RowPasses(const TBRNRowValues& RowValues) override;
  void AddRow(int32_t RowNo, const TBRNRowValues& RowValues) override;

  // Builds the rows satisfying Node into Rows (Mode 2: only removes rows
  // from the candidates Rows holds). Nothing when Rows.Size is 0.
  void BuildConditionSet(TBRNSparseBitmap& Rows, TBRNExprToken* Node, int32_t Mode);

  // Index lookup: the index serving a column operand (-1 none), the text
  // index of one, and the navigator of the primary key (else the first
  // index; nullptr without indexes).
  int32_t FindIndexFor(const TBRNExprToken* Node);
  int32_t FindTextIndexFor(const TBRNExprToken* Node);
  TBRNFilterIndexNavigator* GetDefaultKeyNavigator();

  // Key counts of the analysis (restarts retried; the read lock released on
  // every path). Node: a candidate node with its index set.
  int32_t CountConditionKeys(TBRNExprToken* Node);

  std::unique_ptr<TBRNFilterExpr> Expr;
  TBRNLocalExprEvaluator* Evaluator = nullptr;
  std::unique_ptr<TBRNEvaluatorContext> Context;
  // The entry of Context's CurrentRows that holds the row being tested:
  // the row source of the filtered table's column references (0 for a
  // condition over the table alone).
  int32_t RowSlot = 0;
  // A query's context whose current rows the condition's other column
  // references (outer references to the tables joined before) read;
  // nullptr when the condition concerns the table alone. It outlives the
  // filter.
  TBRNEvaluatorContext* OuterContext = nullptr;
  // Sizes Context's rows to hold RowSlot and copies every other entry from
  // OuterContext, so that outer references see the query's current rows.
  void SyncOuterRows();

  // For a filter built again and again over a tree that stays prepared and
  // unchanged while the filter lives (a join filter within one result
  // build): Build no longer prepares the tree again, so that the compiled
  // programs of its row-by-row conditions serve every build instead of
  // being compiled anew each time. Prepare and Unprepare still drop them.
  void KeepProgramsAcrossBuilds() { keepPrograms_ = true; }

  // Set by Build/BuildConditionSet: how many keys the last build visited
  // and how many rows it read (for plans and tests).
  int64_t KeysVisited = 0;
  int64_t RowsRead = 0;

 private:
  // CountConditionKeys inside the table's Read lock.
  int32_t countConditionKeys(TBRNExprToken* node);
  // The compiled program of a condition node that is evaluated row by row,
  // compiled on first use; nullptr where the program would gain nothing.
  // Programs live until the condition is prepared again or unprepared.
  TBRNExprProgram* programFor(TBRNExprToken* Node);

  std::vector<std::pair<const TBRNExprToken*, std::unique_ptr<TBRNExprProgram>>> Programs;
  bool keepPrograms_ = false;
};

// The filter of a query's WHERE condition.
class TBRNQueryFilter : public TBRNExprFilter {
 public:
  using TBRNExprFilter::TBRNExprFilter;
  std::unique_ptr<TBRNFilterExpr> CreateFilterExpr() override;
};

}  // namespace brn
