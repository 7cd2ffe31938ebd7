// Building an insensitive query result: the joined source rows are walked
// once and their select-list values written into the result table, merged
// into group rows, kept only when new (DISTINCT) or accumulated into the one
// aggregate row; then derived items and HAVING, and the following member of
// a set operation is merged in.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "execution/cursors/cursor_read_scope.h"
#include "execution/cursors/local_cursor.h"
#include "execution/evaluator/aggregate_values.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/queries/cursor_value.h"
#include "execution/queries/query_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "metadata/binding/query_analysis.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "sessions/local/local_session_manager.h"
#include "sql/evaluator/expr_program.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/tree/query_layout.h"
#include "storage/files/table_file_guards.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// The result table's transaction is flushed after this many visited rows.
inline constexpr int64_t kFlushInterval = 65536;
// See TBRNQueryManager::SetBuildMemoryLimit.
std::atomic<int64_t> buildMemoryLimit{int64_t(64) * 1024 * 1024};
// Estimated memory of one value object of a row held in memory.
inline constexpr int64_t kValueOverhead = 96;

TBRNExprToken* argumentOrNil(const TBRNExprToken* node, int32_t position) {
  if (node == nullptr || position >= node->ArgumentCount()) return nullptr;
  return node->Argument(position);
}

// The select item a GROUP BY item stands for (its Link once bound).
TBRNExprToken* groupSelectItem(TBRNExprToken* item) {
  if (item == nullptr) return nullptr;
  if (item->Kind == tkOrderItem && item->Link != nullptr) return item->Link;
  TBRNExprToken* inner = argumentOrNil(item, 0);
  if (inner != nullptr && inner->Kind == tkOrderItem) return inner->Link;
  return nullptr;
}

// Rounds halves to even, as the progress percentage is.
int32_t percentOf(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  const double ratio = double(done) * 100.0 / double(total);
  return int32_t(std::nearbyint(std::min(ratio, 100.0)));
}

// Whether an index key column stores its value byte for byte as the row
// image's cell does (flag byte, then the same datum).
bool sameStoredForm(const TBRNImageCell& cell, const TBRNIndexKeyColumn& column) {
  switch (column.Kind) {
    case TBRNIndexKeyKind::Text:
      return cell.Kind == TBRNImageCellKind::VariableChars && cell.Capacity == column.Length;
    case TBRNIndexKeyKind::FixedText:
      return cell.Kind == TBRNImageCellKind::FixedChars && cell.Capacity == column.Length;
    case TBRNIndexKeyKind::Bytes:
      return cell.Kind == TBRNImageCellKind::VariableBytes && cell.Capacity == column.Length;
    case TBRNIndexKeyKind::FixedBytes:
      return cell.Kind == TBRNImageCellKind::FixedBytes && cell.Capacity == column.Length;
    case TBRNIndexKeyKind::Boolean:
      return cell.Kind == TBRNImageCellKind::Boolean;
    case TBRNIndexKeyKind::Int16:
      return cell.Kind == TBRNImageCellKind::SmallInt;
    case TBRNIndexKeyKind::Int32:
      return cell.Kind == TBRNImageCellKind::Int32;
    case TBRNIndexKeyKind::Int64:
      return cell.Kind == TBRNImageCellKind::Int64;
    case TBRNIndexKeyKind::Float:
      return cell.Kind == TBRNImageCellKind::Float;
  }
  return false;
}

// The key bytes of the groups held in memory, all of one length, side by
// side, found through an open-addressing table of group positions: a lookup
// touches two small arrays instead of a node per group.
class TGroupKeys {
 public:
  // Forgets every key; keys from now on have length bytes.
  void Reset(size_t length) {
    length_ = length;
    keys_.clear();
    hashes_.clear();
    slots_.assign(1024, 0);
  }
  size_t Count() const { return hashes_.size(); }
  // The position of key (length bytes), or Count() when absent.
  size_t Find(const uint8_t* key, uint64_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t slot = size_t(hash) & mask;; slot = (slot + 1) & mask) {
      const uint32_t entry = slots_[slot];
      if (entry == 0) return Count();
      const size_t position = entry - 1;
      if (hashes_[position] == hash &&
          std::memcmp(keys_.data() + position * length_, key, length_) == 0)
        return position;
    }
  }
  // Adds an absent key as position Count().
  void Add(const uint8_t* key, uint64_t hash) {
    if ((Count() + 1) * 2 > slots_.size()) grow();
    keys_.insert(keys_.end(), key, key + length_);
    hashes_.push_back(hash);
    place(Count() - 1);
  }
  static uint64_t Hash(const uint8_t* key, size_t length) {
    uint64_t hash = 1469598103934665603ULL;
    for (size_t i = 0; i < length; ++i) hash = (hash ^ key[i]) * 1099511628211ULL;
    hash ^= hash >> 32;
    return hash * 0x9E3779B97F4A7C15ULL;
  }

 private:
  void place(size_t position) {
    const size_t mask = slots_.size() - 1;
    size_t slot = size_t(hashes_[position]) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = uint32_t(position + 1);
  }
  void grow() {
    slots_.assign(slots_.size() * 2, 0);
    for (size_t position = 0; position < Count(); ++position) place(position);
  }

  size_t length_ = 0;
  std::vector<uint8_t> keys_;
  std::vector<uint64_t> hashes_;
  // 0 empty, else a position + 1; a power of two, at most half full.
  std::vector<uint32_t> slots_;
};

// Steps the driving table of a walk without joins straight through its row
// file in row order, instead of a cursor move and a row copy per row: the
// current row's values are bound to the pinned block itself. It visits
// exactly the rows the cursor's own moves would (its filter set, live rows,
// ascending row numbers), so it serves only a plain local cursor on a base
// table, without a key order, a row filter or a live query behind it.
//
// The build holds the table's Read lock for the whole walk, so no other
// process changes the file between two rows. A change this process makes
// meanwhile (the table's change count moves, a row read restarts) hands the
// walk back to the cursor, positioned on the last row visited: its next
// move catches up with the table as it always does.
//
// Contract: made right after the cursor stood on the walk's first row;
// while a row is bound, the context's row of the table is this walk's
// values, which stay valid until the next call or the walk ends. Used by
// the build's thread only.
class TSourceWalk {
 public:
  // nullptr when the table's cursor is not of the kind described above.
  static std::unique_ptr<TSourceWalk> For(TBRNExprToken* table, TBRNCursorValue& value,
                                          TBRNEvaluatorContext& context) {
    auto* cursor = dynamic_cast<TBRNLocalCursor*>(value.GetCursor());
    if (cursor == nullptr || typeid(*cursor) != typeid(TBRNLocalCursor) || cursor->GetClosed() ||
        cursor->QueryLink != nullptr || cursor->HasRowFilter() || value.GetRow() == nullptr ||
        table->RowSource < 0)
      return nullptr;
    auto* manager = dynamic_cast<TBRNTableManager*>(&cursor->GetTableManager());
    if (manager == nullptr || manager->GetRowsetManager() == nullptr) return nullptr;
    if (const TBRNExprToken* joins = argumentOrNil(table, trJoins))
      for (const TBRNExprToken* join : joins->Arguments())
        if (join != nullptr && join->JoinTable != nullptr) return nullptr;
    return std::unique_ptr<TSourceWalk>(new TSourceWalk(*table, value, *cursor, *manager, context));
  }
  ~TSourceWalk() { unbind(); }
  TSourceWalk(const TSourceWalk&) = delete;
  TSourceWalk& operator=(const TSourceWalk&) = delete;

  // Binds the next row; false at the end (the cursor then stands past its
  // last row, as its own walk leaves it) or when the walk was handed back
  // (HandedBack; the caller goes on with cursor moves).
  bool Next() {
    unbind();
    if (table_.GetChangeCount() != changeCount_ ||
        cursor_.GetFilterSetGeneration() != generation_ || cursor_.GetFiltered() != filtered_)
      return handBack();
    TableReadBracket bracket(file_.GetHost());
    const int32_t last = file_.GetBlockCount();
    const int32_t readAhead = std::max(1, file_.GetReadAheadCount());
    for (;;) {
      int32_t n = current_;
      int32_t count = readAhead;
      if (filtered_) {
        const TBRNSparseBitmap& set = cursor_.GetFilterSet();
        if (!set.FindNextSet(n) || n > last) return finish();
        count = std::min(count, set.CountNextRun(n, count));
      } else {
        if (++n > last) return finish();
        count = std::min(count, last - n + 1);
      }
      bool restart = false;
      TBRNRowsetRow* row = file_.GetRowChecked(n, count > 1, 1, count, restart);
      if (row == nullptr) return handBack();
      current_ = n;
      if (row->Status != kRowLive) {
        file_.ReleaseRow(row);
        continue;
      }
      pinned_ = row;
      values_.SetRow(row);
      bindRow(&values_);
      return true;
    }
  }
  bool HandedBack() const { return handedBack_; }
  int32_t GetRowNumber() const { return current_; }

 private:
  TSourceWalk(TBRNExprToken& table, TBRNCursorValue& value, TBRNLocalCursor& cursor,
              TBRNTableManager& manager, TBRNEvaluatorContext& context)
      : value_(value),
        cursor_(cursor),
        table_(manager),
        file_(*manager.GetRowsetManager()),
        context_(context),
        slot_(size_t(table.RowSource)),
        values_(manager.GetColumns(), &manager) {
    values_.Evaluator = &manager.GetEvaluator();
    values_.Context = &manager.GetContext();
    current_ = cursor.GetRowNumber();
    changeCount_ = manager.GetChangeCount();
    generation_ = cursor.GetFilterSetGeneration();
    filtered_ = cursor.GetFiltered();
  }

  void bindRow(const TBRNValues* row) {
    if (context_.CurrentRows.size() <= slot_) context_.CurrentRows.resize(slot_ + 1);
    context_.CurrentRows[slot_] = row;
  }
  // Gives the block back; the context reads the cursor's row again.
  void unbind() {
    if (pinned_ == nullptr) return;
    TBRNRowsetRow* row = pinned_;
    pinned_ = nullptr;
    values_.SetRow(nullptr);
    bindRow(value_.GetRowValues());
    file_.ReleaseRow(row);
  }
  bool finish() {
    // Where the cursor's own walk ends: on its last row with the end set.
    cursor_.LastRow();
    cursor_.NextRow();
    value_.ReadCurrentRow();
    return false;
  }
  bool handBack() {
    handedBack_ = true;
    if (current_ > 0) cursor_.SetToRowNumber(current_);
    value_.ReadCurrentRow();
    return false;
  }

  TBRNCursorValue& value_;
  TBRNLocalCursor& cursor_;
  TBRNTableManager& table_;
  TBRNRowsetManager& file_;
  TBRNEvaluatorContext& context_;
  size_t slot_;
  TBRNRowsetRowValues values_;
  TBRNRowsetRow* pinned_ = nullptr;
  int32_t current_ = 0;
  int64_t changeCount_ = 0;
  uint64_t generation_ = 0;
  bool filtered_ = false;
  bool handedBack_ = false;
};

}  // namespace

// One build of the result table (see BuildResultSet). Holds the current and
// comparison rows, the context's ResultRow while it lives, and the counters.
class TBRNQueryManager::TBuild {
 public:
  TBuild(TBRNQueryManager& query, bool reportProgress)
      : q_(query),
        table_(dynamic_cast<TBRNTableManager&>(*query.ResultTable)),
        reportProgress_(reportProgress),
        scope_(query.Evaluator, *query.Context) {
    currentBuffer_ = table_.NewRowBuffer();
    compareBuffer_ = table_.NewRowBuffer();
    current_ = std::make_unique<TBRNRowsetRowValues>(table_.GetColumns(), &table_);
    current_->SetRow(currentBuffer_.get());
    compare_ = std::make_unique<TBRNRowsetRowValues>(table_.GetColumns(), &table_);
    compare_->SetRow(compareBuffer_.get());
    previousResultRow_ = q_.Context->ResultRow;
    previousGroupRow_ = q_.Context->ResultGroupRow;
    q_.Context->ResultRow = current_.get();
    target_ = current_.get();
    list_ = argumentOrNil(q_.Node, qpSelectList);
    if (list_ != nullptr)
      for (TBRNExprToken* item : list_->Arguments()) {
        if (item == nullptr) continue;
        items_.push_back(item);
        TBRNExprToken* expression = argumentOrNil(item, 0);
        derived_.push_back(expression != nullptr && ContainsSelectColumnReference(expression));
      }
    itemValues_.resize(items_.size());
    // An item that reads other select columns may read a column before its
    // cell is written: the values then must see every write, so nothing is
    // copied past them.
    bool anyDerived = false;
    for (bool derived : derived_) anyDerived = anyDerived || derived;
    for (size_t i = 0; i < items_.size(); ++i) {
      const TBRNExprToken* expression = argumentOrNil(items_[i], 0);
      itemValues_[i].Copies = !anyDerived && expression != nullptr &&
                              (expression->Kind == tkColumnReference ||
                               expression->Kind == tkOuterColumnReference) &&
                              expression->RowSource >= 0 && expression->Index >= 0;
    }
  }
  ~TBuild() {
    q_.Context->ResultRow = previousResultRow_;
    q_.Context->ResultGroupRow = previousGroupRow_;
  }
  TBuild(const TBuild&) = delete;
  TBuild& operator=(const TBuild&) = delete;

  bool Run();

 private:
  // ---- Sources
  TBRNExprToken* driver() const {
    TBRNExprToken* from = FromList(q_.Node);
    return from != nullptr && from->ArgumentCount() > 0 ? from->Argument(0) : nullptr;
  }
  void startCounters();
  bool first(TBRNExprToken* driverTable);
  bool next(TBRNExprToken* driverTable);
  bool evaluateWhere();

  // ---- Rows
  void evaluateItem(size_t i);
  // Copies item i's column cell into the cleared current row; false when
  // the item must be evaluated instead.
  bool copyColumnCell(size_t i);
  void evaluateSelectList();
  void evaluateUnderived();
  int32_t insertCurrent();
  void updateCurrent(int32_t row);
  void afterWrite();
  void flushRows();
  bool isNewDistinctRow(TBRNTableManager& table, TBRNRowValues& values, int32_t& foundRow,
                        const std::set<int32_t>* skip = nullptr);
  bool rowsEqual(const TBRNRowValues& a, const TBRNRowValues& b, int32_t columns) const;
  bool readLiveRow(TBRNTableManager& table, int32_t row, TBRNRowValues& values);
  int32_t selectColumnCount() const { return int32_t(items_.size()); }

  // ---- Groups gathered in memory
  // One group: its row in a row buffer of the result table, found by its
  // "__GroupBy" key bytes.
  struct TMemoryGroup {
    std::unique_ptr<TBRNRowsetRow> Buffer;
    std::unique_ptr<TBRNRowsetRowValues> Values;
  };
  bool canGroupInMemory(int32_t groupIndex) const;
  void groupKey(int32_t groupIndex, std::string& key);
  void writeMemoryGroups();

  // ---- The first rows of an ordered RANGE
  // A row among the first ones in "__OrderBy" order: its values, its
  // encoded key and its place in the walk (which breaks ties, as the row
  // numbers of a complete build do).
  struct TKeptRow {
    std::unique_ptr<TBRNRowsetRow> Buffer;
    std::unique_ptr<TBRNRowsetRowValues> Values;
    std::vector<uint8_t> Key;
    int64_t Sequence = 0;
  };
  void buildTopRows(TBRNExprToken* driverTable, int32_t limit);
  void writeKeptRows();

  // ---- Cases
  void buildWithoutFrom();
  void buildGroups();
  void buildDistinct();
  void buildAggregates();
  void buildPlain();
  void finishGroups();
  void removeDuplicateGroups();
  void mergeFollowing(TBRNQueryManager& following, TBRNExprOperation operation);

  TBRNQueryManager& q_;
  TBRNTableManager& table_;
  // Every new row of the result goes through it while Run runs.
  TBRNRowAppender* appender_ = nullptr;
  bool reportProgress_;
  TBRNEvaluationScope scope_;
  std::unique_ptr<TBRNRowsetRow> currentBuffer_;
  std::unique_ptr<TBRNRowsetRow> compareBuffer_;
  std::unique_ptr<TBRNRowsetRowValues> current_;
  std::unique_ptr<TBRNRowsetRowValues> compare_;
  // The row the select items are evaluated into: the current row, or a
  // group held in memory.
  TBRNRowsetRowValues* target_ = nullptr;
  TBRNValues* previousResultRow_ = nullptr;
  int32_t previousGroupRow_ = 0;
  TBRNExprToken* list_ = nullptr;
  std::vector<TBRNExprToken*> items_;
  std::vector<bool> derived_;
  // Per select item: its expression's own value when last evaluated, and
  // whether that value is an aggregate's.
  struct TItemValue {
    const TBRNValue* Value = nullptr;
    bool Aggregate = false;
    // The expression's flat program, made at its first evaluation (nullptr
    // when the evaluator's own walk is all there is to it).
    bool Compiled = false;
    std::unique_ptr<TBRNExprProgram> Program;
    // A plain column reference whose cell is copied into the result row's
    // image as it is: the row and cell layout it was checked for, the
    // source cell and the result cell (Width 0: not copied).
    bool Copies = false;
    const TBRNValues* CopyRow = nullptr;
    uint64_t CopyLayout = 0;
    TBRNImageCell From;
    TBRNImageCell To;
  };
  std::vector<TItemValue> itemValues_;
  bool continue_ = true;
  int64_t rowsVisited_ = 0;
  int64_t driverRowsSeen_ = 0;
  int32_t driverRow_ = 0;
  int64_t driverRowCount_ = 0;
  // Groups held in memory in the order they were found; group i (0-based)
  // becomes row memoryBase_ + i + 1 of the result table.
  std::vector<TMemoryGroup> memoryGroups_;
  TGroupKeys memoryGroupKeys_;
  int32_t memoryBase_ = 0;
  // The first rows of an ordered RANGE, a heap with the last of them on top.
  std::vector<TKeptRow> keptRows_;
  // The driving table's walk, while it steps the row file itself; whether
  // one was looked for, and whether this build may use one (a build that
  // stops early must leave the cursor where it stopped).
  std::unique_ptr<TSourceWalk> walk_;
  bool walkTried_ = false;
  bool walkAllowed_ = true;
  TBRNCursor* driverCursor_ = nullptr;
  // The percentage last reported and the rows since.
  int32_t reportedPercent_ = -1;
  int32_t rowsSinceReport_ = 0;
};

// ---------------------------------------------------------------------------
// Sources

void TBRNQueryManager::TBuild::startCounters() {
  rowsVisited_ = 1;
  driverRowsSeen_ = 1;
  TBRNExprToken* table = driver();
  if (table == nullptr) return;
  TBRNCursor* cursor = q_.SourceValue(table).GetCursor();
  driverRow_ = cursor != nullptr ? cursor->GetRowNumber() : 0;
  driverRowCount_ = cursor != nullptr ? cursor->GetRowCount() : 0;
}

bool TBRNQueryManager::TBuild::first(TBRNExprToken* driverTable) {
  return q_.FirstJoinedRow(driverTable, reportProgress_, continue_);
}

bool TBRNQueryManager::TBuild::next(TBRNExprToken* driverTable) {
  if (reportProgress_) {
    // Reported when the percentage moves, and every 256 rows in between so
    // that a stop asked for through the callback is seen soon; the session
    // itself spaces the callbacks out in time.
    const int32_t percent = percentOf(driverRowsSeen_, driverRowCount_);
    if (percent != reportedPercent_ || ++rowsSinceReport_ >= 256) {
      reportedPercent_ = percent;
      rowsSinceReport_ = 0;
      TBRNLocalSessionManager* session = q_.Evaluator.GetSession();
      if (session != nullptr) continue_ = session->UpdateProgress(percent);
    }
  }
  if (!continue_) return false;
  if (!walkTried_) {
    walkTried_ = true;
    if (walkAllowed_) walk_ = TSourceWalk::For(driverTable, q_.SourceValue(driverTable), *q_.Context);
  }
  if (walk_ != nullptr) {
    if (walk_->Next()) {
      ++q_.RowsVisited;
      driverRow_ = walk_->GetRowNumber();
      ++driverRowsSeen_;
      ++rowsVisited_;
      return true;
    }
    const bool handedBack = walk_->HandedBack();
    walk_.reset();
    if (!handedBack) return false;
  }
  if (!q_.NextJoinedRow(driverTable, reportProgress_, continue_)) return false;
  if (driverCursor_ == nullptr) driverCursor_ = q_.SourceValue(driverTable).GetCursor();
  TBRNCursor* cursor = driverCursor_;
  const int32_t row = cursor != nullptr ? cursor->GetRowNumber() : 0;
  if (row != driverRow_) {
    driverRow_ = row;
    ++driverRowsSeen_;
  }
  ++rowsVisited_;
  return continue_;
}

bool TBRNQueryManager::TBuild::evaluateWhere() {
  TBRNExprToken* where = argumentOrNil(q_.Node, qpWhere);
  if (where == nullptr) return true;
  for (TBRNExprToken* condition : where->Arguments()) {
    if (condition == nullptr) continue;
    q_.Evaluator.Evaluate(condition);
    if (condition->Value == nullptr || condition->Value->GetNull() ||
        !condition->Value->GetAsBoolean())
      return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Rows

void TBRNQueryManager::TBuild::evaluateItem(size_t i) {
  TBRNExprToken* expression = argumentOrNil(items_[i], 0);
  if (expression == nullptr) return;
  TItemValue& known = itemValues_[i];
  if (!known.Compiled) {
    known.Compiled = true;
    known.Program = TBRNExprProgram::Compile(q_.Evaluator, expression);
  }
  if (known.Program != nullptr)
    known.Program->Evaluate(q_.Evaluator);
  else
    q_.Evaluator.Evaluate(expression);
  // An aggregate keeps its running value in the result row itself. What
  // the node's value is is looked at again only when the value changes.
  TBRNValue* own = expression->GetOwnValue();
  if (own != known.Value || own == nullptr) {
    known.Value = own;
    known.Aggregate = dynamic_cast<TBRNAggregateFunctionReferenceValue*>(own) != nullptr;
  }
  if (known.Aggregate) return;
  target_->GetItem(int32_t(i) + 1)->Assign(*expression->Value);
}

void TBRNQueryManager::TBuild::evaluateSelectList() {
  current_->SetAllNull();
  for (size_t i = 0; i < items_.size(); ++i)
    if (!itemValues_[i].Copies || !copyColumnCell(i)) evaluateItem(i);
}

bool TBRNQueryManager::TBuild::copyColumnCell(size_t i) {
  // What the evaluator would read: the column's value in the current row
  // of its row source. The bytes are copied only while the source row
  // holds that value in a cell shaped exactly like the result column's
  // (same kind, width, capacity and type), into a result row just cleared.
  TItemValue& item = itemValues_[i];
  const TBRNExprToken* expression = argumentOrNil(items_[i], 0);
  const TBRNCurrentRows& rows = q_.Context->CurrentRows;
  const size_t source = size_t(expression->RowSource);
  const TBRNValues* row = source < rows.size() ? rows[source] : nullptr;
  if (row == nullptr) return false;
  const TBRNRowImage image = row->GetRowImage();
  if (row != item.CopyRow || image.Layout != item.CopyLayout) {
    item.CopyRow = row;
    item.CopyLayout = image.Layout;
    item.From = TBRNImageCell();
    item.To = TBRNImageCell();
    TBRNImageCell from;
    TBRNImageCell to;
    if (image.Layout == 0 || expression->Index >= row->GetCount() ||
        !row->GetImageCell(expression->Index, from) ||
        !current_->GetImageCell(int32_t(i) + 1, to) || from.Value == nullptr ||
        to.Value == nullptr || from.Kind != to.Kind || from.Kind == TBRNImageCellKind::None ||
        from.Kind == TBRNImageCellKind::Decimal || from.Width != to.Width ||
        from.Capacity != to.Capacity || from.Value->GetDataType() != to.Value->GetDataType() ||
        from.Value->GetDataType() != expression->DataType)
      return false;
    item.From = from;
    item.To = to;
  }
  if (item.From.Width == 0 || row->GetItem(expression->Index) != item.From.Value ||
      image.Bytes == nullptr || image.Size < int64_t(item.From.Offset) + item.From.Width)
    return false;
  TBRNMemoryStream& target = currentBuffer_->BlockStream;
  if (target.GetSize() < int64_t(item.To.Offset) + item.To.Width) return false;
  std::memcpy(target.GetMemory() + item.To.Offset, image.Bytes + item.From.Offset,
              size_t(item.From.Width));
  return true;
}

void TBRNQueryManager::TBuild::evaluateUnderived() {
  for (size_t i = 0; i < items_.size(); ++i)
    if (!derived_[i]) evaluateItem(i);
}

int32_t TBRNQueryManager::TBuild::insertCurrent() {
  const int32_t row = appender_->Append(*current_);
  afterWrite();
  return row;
}

void TBRNQueryManager::TBuild::updateCurrent(int32_t row) {
  int32_t counter = 0;
  table_.UpdateRow(*current_, row, counter);
  afterWrite();
}

void TBRNQueryManager::TBuild::afterWrite() {
  if (rowsVisited_ > 0 && rowsVisited_ % kFlushInterval == 0) flushRows();
}

void TBRNQueryManager::TBuild::flushRows() {
  appender_->EndBatch();
  table_.FlushTransaction();
}

bool TBRNQueryManager::TBuild::readLiveRow(TBRNTableManager& table, int32_t row,
                                           TBRNRowValues& values) {
  if (!table.ReadRowByNumber(row, values)) return false;
  auto* rowValues = dynamic_cast<TBRNRowsetRowValues*>(&values);
  return rowValues == nullptr || rowValues->GetRow() == nullptr ||
         rowValues->GetRow()->Status == kRowLive;
}

bool TBRNQueryManager::TBuild::rowsEqual(const TBRNRowValues& a, const TBRNRowValues& b,
                                         int32_t columns) const {
  TBRNColumns* definitions = table_.GetColumns();
  for (int32_t i = 1; i <= columns && i < a.GetCount() && i < b.GetCount(); ++i) {
    const int32_t collation = definitions->GetItem(i)->Collation;
    if (a.GetItem(i)->CompareConverting(*b.GetItem(i), 0, false, collation) != 0) return false;
  }
  return true;
}

bool TBRNQueryManager::TBuild::isNewDistinctRow(TBRNTableManager& table, TBRNRowValues& values,
                                                int32_t& foundRow, const std::set<int32_t>* skip) {
  foundRow = 0;
  const int32_t index = q_.findResultIndexOf(table, kDistinctIndexName);
  const int32_t columns = std::min(selectColumnCount(), values.GetCount() - 1);
  const int32_t keyColumns = std::min(columns, kMaxDistinctIndexColumns);
  auto buffer = table.NewRowBuffer();
  TBRNRowsetRowValues found(table.GetColumns(), &table);
  found.SetRow(buffer.get());
  auto usable = [&](int32_t row) {
    return (skip == nullptr || skip->count(row) == 0) && rowsEqual(values, found, columns);
  };
  if (index >= 0) {
    // The index keys at most the first 128 columns: among the rows that
    // share the key, the one wanted equals on every column (and is not
    // spoken for).
    if (!table.FindRowByKey(found, values, index, true)) return true;
    TBRNIndexNavigator* navigator = table.GetIndexNavigator(index);
    for (int32_t row = navigator->GetRowNumber();; row = navigator->GetRowNumber()) {
      if (usable(row)) {
        foundRow = row;
        return false;
      }
      if (!table.NextRowByIndex(found, index)) return true;
      if (!rowsEqual(values, found, keyColumns)) return true;
    }
  }
  const int32_t count = table.GetPhysicalRowCount();
  for (int32_t row = 1; row <= count; ++row) {
    if (!readLiveRow(table, row, found)) continue;
    if (usable(row)) {
      foundRow = row;
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// The frame

bool TBRNQueryManager::TBuild::Run() {
  table_.StartTransaction();
  struct TCommit {
    TBRNTableManager& table;
    bool failed = true;
    ~TCommit() {
      if (!failed) return;
      try {
        table.CommitTransaction();
      } catch (...) {
        // The build's own failure is the one reported.
      }
    }
  } commit{table_};
  // Rows are appended in batches; a failure ends the open batch before the
  // transaction commits (a failed append has rolled its batch back, any
  // other failure keeps the whole rows written).
  TBRNRowAppender appender(table_);
  appender_ = &appender;
  struct TAppenderGone {
    TBRNRowAppender*& appender;
    ~TAppenderGone() { appender = nullptr; }
  } appenderGone{appender_};
  if (q_.NoFrom)
    buildWithoutFrom();
  else if (q_.HasGroupBy)
    buildGroups();
  else if (q_.IsDistinct)
    buildDistinct();
  else if (q_.AggregatesOnly)
    buildAggregates();
  else
    buildPlain();
  if (continue_) {
    q_.Built = true;
    q_.BuiltRangeEnd = q_.RangeEnd;
    if (q_.HasFollowingQuery) {
      TBRNQueryManager* following = q_.followingManager();
      following->RequestPlan = q_.WritePlan;
      bool built = false;
      TBRNCursor* none = nullptr;
      continue_ = following->ExecuteQuery(false, std::string(), false, built, none, false, false);
      if (q_.WritePlan) q_.WriteMergedPlan(following->GetPlanText());
      if (continue_) {
        TBRNExprToken* link = argumentOrNil(following->Node, qpSetOperation);
        mergeFollowing(*following, link != nullptr ? link->Operation : opUnionAll);
      }
      if (!continue_) q_.Built = false;
    }
  }
  if (q_.WritePlan && !q_.IsSetMember) {
    std::vector<TBRNTableFileManager*> files(table_.GetFiles().begin(), table_.GetFiles().end());
    q_.WriteIOStatisticsPlan(rowsVisited_, files);
  }
  appender.EndBatch();
  commit.failed = false;
  table_.CommitTransaction();
  return continue_;
}

// ---------------------------------------------------------------------------
// The cases

void TBRNQueryManager::TBuild::buildWithoutFrom() {
  rowsVisited_ = 1;
  evaluateSelectList();
  insertCurrent();
  q_.ResultIndex = q_.findResultIndex(kOrderByIndexName);
}

void TBRNQueryManager::TBuild::buildGroups() {
  q_.PrepareSources(q_.Node, q_.WritePlan);
  const int32_t groupIndex = q_.findResultIndex(kGroupByIndexName);
  q_.ResultIndex = groupIndex;
  TBRNExprToken* groupBy = argumentOrNil(q_.Node, qpGroupBy);
  TBRNExprToken* table = driver();
  // Groups are gathered in memory while their keys compare as bytes and
  // they fit; the rows found so far go into the result table whatever ends
  // the walk (a stop or a failure keeps them, as rows written one by one
  // would be kept).
  bool inMemory = canGroupInMemory(groupIndex);
  memoryBase_ = table_.GetPhysicalRowCount();
  int64_t memoryBytes = 0;
  const int64_t memoryLimit = buildMemoryLimit.load(std::memory_order_relaxed);
  std::string key;
  bool keyLengthKnown = false;
  try {
    if (table != nullptr && first(table)) {
      startCounters();
      do {
        if (!evaluateWhere()) continue;
        current_->SetAllNull();
        if (groupBy != nullptr)
          for (TBRNExprToken* item : groupBy->Arguments()) {
            TBRNExprToken* selectItem = groupSelectItem(item);
            if (selectItem == nullptr || selectItem->Index < 0) continue;
            TBRNExprToken* expression = argumentOrNil(selectItem, 0);
            q_.Evaluator.Evaluate(expression);
            current_->GetItem(selectItem->Index + 1)->Assign(*expression->Value);
          }
        if (inMemory) {
          groupKey(groupIndex, key);
          if (!keyLengthKnown) {
            memoryGroupKeys_.Reset(key.size());
            keyLengthKnown = true;
          }
          const auto* keyBytes = reinterpret_cast<const uint8_t*>(key.data());
          const uint64_t hash = TGroupKeys::Hash(keyBytes, key.size());
          size_t position = memoryGroupKeys_.Find(keyBytes, hash);
          const bool found = position < memoryGroupKeys_.Count();
          if (!found && memoryBytes > memoryLimit) {
            // Too many groups: those found so far go into the table, where
            // the rest of the walk looks them up.
            writeMemoryGroups();
            inMemory = false;
          } else {
            if (!found) {
              TMemoryGroup group;
              group.Buffer = table_.NewRowBuffer();
              group.Values = std::make_unique<TBRNRowsetRowValues>(table_.GetColumns(), &table_);
              group.Values->SetRow(group.Buffer.get());
              for (int32_t i = 1; i < current_->GetCount(); ++i)
                group.Values->GetItem(i)->Assign(*current_->GetItem(i));
              memoryBytes += int64_t(group.Buffer->GetSize()) + int64_t(key.size()) +
                             kValueOverhead * current_->GetCount();
              position = memoryGroups_.size();
              memoryGroups_.push_back(std::move(group));
              memoryGroupKeys_.Add(keyBytes, hash);
            }
            TBRNRowsetRowValues& row = *memoryGroups_[position].Values;
            q_.Context->ResultGroupRow = memoryBase_ + int32_t(position) + 1;
            q_.Context->ResultRow = &row;
            target_ = &row;
            evaluateUnderived();
            target_ = current_.get();
            q_.Context->ResultRow = current_.get();
            continue;
          }
        }
        int32_t foundRow = 0;
        if (groupIndex >= 0 && table_.FindRowByKey(*current_, *current_, groupIndex, true))
          foundRow = table_.GetIndexNavigator(groupIndex)->GetRowNumber();
        q_.Context->ResultGroupRow = foundRow != 0 ? foundRow : table_.GetPhysicalRowCount() + 1;
        evaluateUnderived();
        if (foundRow != 0)
          updateCurrent(foundRow);
        else
          insertCurrent();
      } while (next(table));
    }
  } catch (...) {
    target_ = current_.get();
    q_.Context->ResultRow = current_.get();
    try {
      writeMemoryGroups();
    } catch (...) {
      // The walk's own failure is the one reported.
    }
    throw;
  }
  writeMemoryGroups();
  const int32_t orderIndex = q_.findResultIndex(kOrderByIndexName);
  if (orderIndex >= 0) q_.ResultIndex = orderIndex;
  finishGroups();
}

bool TBRNQueryManager::TBuild::canGroupInMemory(int32_t groupIndex) const {
  if (groupIndex < 0) return false;
  // Row values of large objects write to the table's own BLOB file.
  TBRNColumns* columns = table_.GetColumns();
  for (int32_t i = 0; i < columns->Count(); ++i)
    if (columns->GetItem(i)->DataType == dtLob) return false;
  const TBRNIndexKeyLayout* layout = table_.GetIndexLayout(groupIndex);
  if (layout == nullptr || layout->IsTextIndex()) return false;
  // Equal keys must have equal bytes: binary text (trailing blanks aside,
  // which groupKey drops), never floating point (0 and -0 are one group).
  for (int32_t i = 0; i < layout->GetColumnCount(); ++i) {
    const TBRNIndexKeyColumn& column = layout->GetColumn(i);
    switch (column.Kind) {
      case TBRNIndexKeyKind::Text:
      case TBRNIndexKeyKind::FixedText:
        if (column.Collation != BinaryCollation) return false;
        break;
      case TBRNIndexKeyKind::Float:
        return false;
      default:
        break;
    }
  }
  return true;
}

void TBRNQueryManager::TBuild::groupKey(int32_t groupIndex, std::string& key) {
  const TBRNIndexKeyLayout& layout = *table_.GetIndexLayout(groupIndex);
  table_.BuildIndexKey(*current_, groupIndex, false);
  key.assign(size_t(layout.GetKeyWidth()), '\0');
  auto* bytes = reinterpret_cast<uint8_t*>(key.data());
  layout.EncodeKey(*table_.GetIndexKey(groupIndex), bytes);
  // The key width may reserve bytes beyond the columns; they stay 0.
  int32_t used = 0;
  for (int32_t i = 0; i < layout.GetColumnCount(); ++i)
    used = std::max(used, layout.GetColumn(i).Offset + layout.GetColumn(i).KeySize);
  used = std::min(used, layout.GetKeyWidth());
  // Trailing blanks never count in a text comparison: they leave the key.
  for (int32_t i = 0; i < layout.GetColumnCount(); ++i) {
    const TBRNIndexKeyColumn& column = layout.GetColumn(i);
    if (column.Kind != TBRNIndexKeyKind::Text) continue;
    uint8_t* at = bytes + column.Offset;
    if (at[0] == 0) continue;
    const int32_t length = int32_t(at[1]) | (int32_t(at[2]) << 8);
    int32_t trimmed = length;
    while (trimmed > 0 && at[3 + trimmed - 1] == ' ') --trimmed;
    if (trimmed == length) continue;
    std::memset(at + 3 + trimmed, 0, size_t(length - trimmed));
    at[1] = uint8_t(trimmed & 0xFF);
    at[2] = uint8_t(trimmed >> 8);
  }
  key.resize(size_t(used));
}

void TBRNQueryManager::TBuild::writeMemoryGroups() {
  // Inserted in the order found, each group lands on the row number its
  // aggregates were told.
  std::vector<TMemoryGroup> groups = std::move(memoryGroups_);
  memoryGroups_.clear();
  memoryGroupKeys_.Reset(0);
  int64_t written = 0;
  for (TMemoryGroup& group : groups) {
    appender_->Append(*group.Values);
    group.Values.reset();
    group.Buffer.reset();
    if (++written % kFlushInterval == 0) flushRows();
  }
}

void TBRNQueryManager::TBuild::buildDistinct() {
  q_.PrepareSources(q_.Node, q_.WritePlan);
  q_.ResultIndex = q_.findResultIndex(kDistinctIndexName);
  TBRNExprToken* table = driver();
  if (table != nullptr && first(table)) {
    startCounters();
    do {
      if (!evaluateWhere()) continue;
      evaluateSelectList();
      int32_t found = 0;
      if (isNewDistinctRow(table_, *current_, found)) insertCurrent();
    } while (next(table));
  }
  const int32_t orderIndex = q_.findResultIndex(kOrderByIndexName);
  if (orderIndex >= 0) q_.ResultIndex = orderIndex;
}

void TBRNQueryManager::TBuild::buildAggregates() {
  q_.PrepareSources(q_.Node, q_.WritePlan);
  current_->SetAllNull();
  q_.Context->ResultGroupRow = table_.GetPhysicalRowCount() + 1;
  bool accumulated = false;
  TBRNExprToken* table = driver();
  if (table != nullptr && first(table)) {
    startCounters();
    do {
      if (!evaluateWhere()) continue;
      evaluateUnderived();
      accumulated = true;
    } while (next(table));
  }
  if (!accumulated) {
    for (size_t i = 0; i < items_.size(); ++i) {
      TBRNExprToken* expression = argumentOrNil(items_[i], 0);
      if (expression == nullptr) continue;
      if (IsAggregateCall(expression)) {
        TBRNValue* column = current_->GetItem(int32_t(i) + 1);
        if (expression->Operation == opCount)
          column->SetAsInteger(0);
        else
          column->SetNull(true);
      } else if (!ContainsColumnReference(expression) && !derived_[i]) {
        evaluateItem(i);
      }
    }
  }
  insertCurrent();
  const int32_t orderIndex = q_.findResultIndex(kOrderByIndexName);
  q_.ResultIndex = orderIndex;
  finishGroups();
}

void TBRNQueryManager::TBuild::buildPlain() {
  TBRNExprToken* table = driver();
  bool positioned = false;
  if (!q_.ExtendRange) {
    q_.PrepareSources(q_.Node, q_.WritePlan);
    table = driver();
    positioned = table != nullptr && first(table);
    if (positioned) startCounters();
  } else {
    // The sources stand where the last build stopped: that combination is
    // the first one to consider.
    TBRNCursor* cursor = table != nullptr ? q_.SourceValue(table).GetCursor() : nullptr;
    positioned = cursor != nullptr && !cursor->GetEof();
    rowsVisited_ = 1;
  }
  // A build that stops after RangeEnd rows leaves the sources where it
  // stopped, for the next one to extend from: it moves the cursor itself.
  walkAllowed_ = !q_.ExtendRange && (q_.HasOrderBy || q_.RangeEnd == -1);
  int32_t limit = q_.ExtendRange ? -1 : q_.topRowsLimit();
  if (limit > 0) {
    // The rows kept must fit in memory; otherwise every row is written.
    const int32_t orderIndex = q_.findResultIndex(kOrderByIndexName);
    const int64_t rowBytes = int64_t(currentBuffer_->GetSize()) +
                             kValueOverhead * current_->GetCount() +
                             table_.GetIndexLayout(orderIndex)->GetKeyWidth();
    if (int64_t(limit) * rowBytes > buildMemoryLimit.load(std::memory_order_relaxed)) limit = -1;
  }
  q_.ExtendRange = false;
  q_.topRowsKept_ = limit;
  if (positioned && limit >= 0) {
    buildTopRows(table, limit);
  } else if (positioned) {
    do {
      if (!q_.HasOrderBy && q_.RangeEnd != -1 && table_.GetRowCount() >= q_.RangeEnd) break;
      if (!evaluateWhere()) continue;
      evaluateSelectList();
      insertCurrent();
    } while (next(table));
  }
  q_.ResultIndex = q_.findResultIndex(kOrderByIndexName);
}

void TBRNQueryManager::TBuild::buildTopRows(TBRNExprToken* driverTable, int32_t limit) {
  // Every joined row is still evaluated (its failures are the complete
  // build's), but only the first limit rows in "__OrderBy" order are kept:
  // a heap whose top is the last of them. A row equal to the last one on
  // the key comes after it, as its row number would. Keys are compared as
  // the index encodes them, without a value object per comparison.
  const int32_t orderIndex = q_.findResultIndex(kOrderByIndexName);
  const TBRNIndexKeyLayout& layout = *table_.GetIndexLayout(orderIndex);
  std::vector<uint8_t> key(size_t(layout.GetKeyWidth()), 0);
  // A key column stored exactly as its result column's cell is copied from
  // the row image; otherwise the key is encoded from the values.
  struct TKeyCell {
    int32_t KeyOffset;
    int32_t ImageOffset;
    int32_t Width;
  };
  std::vector<TKeyCell> keyCells;
  const TBRNRowImage layoutImage = current_->GetRowImage();
  TBRNIndex* index = layout.GetIndex();
  bool copyKey = index != nullptr && layoutImage.Layout != 0 &&
                 index->Columns->Count() == layout.GetColumnCount();
  for (int32_t k = 0; copyKey && k < layout.GetColumnCount(); ++k) {
    const TBRNIndexKeyColumn& column = layout.GetColumn(k);
    TBRNColumn* tableColumn = index->Columns->GetItem(k)->GetColumn();
    TBRNImageCell cell;
    copyKey = tableColumn != nullptr && current_->GetImageCell(tableColumn->Index, cell) &&
              cell.Value != nullptr && cell.Value->GetDataType() == column.DataType &&
              cell.Width == column.KeySize && sameStoredForm(cell, column) &&
              int64_t(cell.Offset) + cell.Width <= layoutImage.Size;
    if (copyKey) keyCells.push_back({column.Offset, cell.Offset, cell.Width});
  }
  auto encodeCurrent = [&] {
    if (copyKey) {
      const uint8_t* image = currentBuffer_->BlockStream.GetMemory();
      for (const TKeyCell& cell : keyCells)
        std::memcpy(key.data() + cell.KeyOffset, image + cell.ImageOffset, size_t(cell.Width));
      return;
    }
    table_.BuildIndexKey(*current_, orderIndex, false);
    layout.EncodeKey(*table_.GetIndexKey(orderIndex), key.data());
  };
  auto before = [&](const TKeptRow& a, const TKeptRow& b) {
    const int32_t order = CompareEncodedKeys(layout, a.Key.data(), b.Key.data());
    return order < 0 || (order == 0 && a.Sequence < b.Sequence);
  };
  // A row is kept as a copy of its image, unless a column holds its data
  // outside the image (a large object): then value by value.
  bool imageCopy = true;
  TBRNColumns* columns = table_.GetColumns();
  for (int32_t i = 0; i < columns->Count(); ++i)
    if (columns->GetItem(i)->DataType == dtLob) imageCopy = false;
  auto copyCurrent = [&](TKeptRow& row) {
    if (imageCopy) return row.Values->Assign(*current_);
    row.Values->SetAllNull();
    for (int32_t i = 1; i < current_->GetCount(); ++i)
      row.Values->GetItem(i)->Assign(*current_->GetItem(i));
  };
  int64_t sequence = 0;
  try {
    do {
      if (!evaluateWhere()) continue;
      evaluateSelectList();
      ++sequence;
      if (limit == 0) continue;
      encodeCurrent();
      if (keptRows_.size() == size_t(limit)) {
        if (CompareEncodedKeys(layout, key.data(), keptRows_.front().Key.data()) >= 0) continue;
        std::pop_heap(keptRows_.begin(), keptRows_.end(), before);
      } else {
        TKeptRow row;
        row.Buffer = table_.NewRowBuffer();
        row.Values = std::make_unique<TBRNRowsetRowValues>(table_.GetColumns(), &table_);
        row.Values->SetRow(row.Buffer.get());
        keptRows_.push_back(std::move(row));
      }
      TKeptRow& row = keptRows_.back();
      copyCurrent(row);
      row.Key.assign(key.begin(), key.end());
      row.Sequence = sequence;
      std::push_heap(keptRows_.begin(), keptRows_.end(), before);
    } while (next(driverTable));
  } catch (...) {
    try {
      writeKeptRows();
    } catch (...) {
      // The walk's own failure is the one reported.
    }
    throw;
  }
  writeKeptRows();
}

void TBRNQueryManager::TBuild::writeKeptRows() {
  // In walk order, so that rows equal on the key keep their order.
  std::vector<TKeptRow> rows = std::move(keptRows_);
  keptRows_.clear();
  std::sort(rows.begin(), rows.end(),
            [](const TKeptRow& a, const TKeptRow& b) { return a.Sequence < b.Sequence; });
  int64_t written = 0;
  for (TKeptRow& row : rows) {
    appender_->Append(*row.Values);
    if (++written % kFlushInterval == 0) flushRows();
  }
}

void TBRNQueryManager::TBuild::finishGroups() {
  bool anyDerived = false;
  for (bool derived : derived_) anyDerived = anyDerived || derived;
  if (anyDerived) {
    std::vector<int32_t> rows;
    if (q_.ResultIndex >= 0) {
      for (bool on = table_.FirstRowByIndex(*current_, q_.ResultIndex); on;
           on = table_.NextRowByIndex(*current_, q_.ResultIndex))
        rows.push_back(table_.GetIndexNavigator(q_.ResultIndex)->GetRowNumber());
    } else {
      for (int32_t row = 1; row <= table_.GetPhysicalRowCount(); ++row) rows.push_back(row);
    }
    for (int32_t row : rows) {
      if (!readLiveRow(table_, row, *current_)) continue;
      q_.Context->ResultGroupRow = row;
      for (size_t i = items_.size(); i-- > 0;)
        if (derived_[i]) evaluateItem(i);
      updateCurrent(row);
    }
  }
  if (TBRNExprToken* having = argumentOrNil(q_.Node, qpHaving)) {
    const int32_t count = table_.GetPhysicalRowCount();
    for (int32_t row = 1; row <= count; ++row) {
      if (!readLiveRow(table_, row, *current_)) continue;
      q_.Context->ResultGroupRow = row;
      q_.Evaluator.Evaluate(having);
      if (having->Value != nullptr && !having->Value->GetNull() && having->Value->GetAsBoolean())
        continue;
      int32_t counter = 0;
      table_.DeleteRow(*current_, row, counter);
    }
  }
  if (q_.HasGroupBy && list_ != nullptr && list_->Operation == opDistinct) removeDuplicateGroups();
}

void TBRNQueryManager::TBuild::removeDuplicateGroups() {
  // Groups equal on every select column after HAVING: the first one stays.
  // Rows are bucketed by a text form of their values so that only rows
  // that may be equal are compared.
  std::unordered_map<std::string, std::vector<int32_t>> buckets;
  auto buffer = table_.NewRowBuffer();
  TBRNRowsetRowValues kept(table_.GetColumns(), &table_);
  kept.SetRow(buffer.get());
  // Only what the result shows counts: hidden items (the GROUP BY columns
  // the select list leaves out) differ between groups by nature.
  std::vector<int32_t> visible;
  for (size_t i = 0; i < items_.size(); ++i)
    if (!items_[i]->Hidden) visible.push_back(int32_t(i) + 1);
  auto sameRow = [&](const TBRNRowValues& a, const TBRNRowValues& b) {
    TBRNColumns* definitions = table_.GetColumns();
    for (int32_t i : visible) {
      const int32_t collation = definitions->GetItem(i)->Collation;
      if (a.GetItem(i)->CompareConverting(*b.GetItem(i), 0, false, collation) != 0) return false;
    }
    return true;
  };
  const int32_t count = table_.GetPhysicalRowCount();
  for (int32_t row = 1; row <= count; ++row) {
    if (!readLiveRow(table_, row, *current_)) continue;
    std::string key;
    for (int32_t i : visible) {
      const TBRNValue* value = current_->GetItem(i);
      key += value->GetNull() ? std::string("\x01") : UpperCaseText(value->GetAsString());
      key += '\x02';
    }
    std::vector<int32_t>& bucket = buckets[key];
    bool duplicate = false;
    for (int32_t other : bucket) {
      if (readLiveRow(table_, other, kept) && sameRow(*current_, kept)) {
        duplicate = true;
        break;
      }
    }
    if (duplicate) {
      readLiveRow(table_, row, *current_);
      int32_t counter = 0;
      table_.DeleteRow(*current_, row, counter);
    } else {
      bucket.push_back(row);
    }
  }
}

void TBRNQueryManager::TBuild::mergeFollowing(TBRNQueryManager& following,
                                              TBRNExprOperation operation) {
  auto* other = dynamic_cast<TBRNTableManager*>(following.ResultTable);
  if (other == nullptr) return;
  auto otherBuffer = other->NewRowBuffer();
  TBRNRowsetRowValues otherRow(other->GetColumns(), other);
  otherRow.SetRow(otherBuffer.get());
  const int32_t columns = std::min(current_->GetCount(), otherRow.GetCount()) - 1;
  auto copyInto = [&](TBRNRowValues& target, const TBRNRowValues& source) {
    target.SetAllNull();
    for (int32_t i = 1; i <= columns; ++i) target.GetItem(i)->Assign(*source.GetItem(i));
  };
  switch (operation) {
    case opUnion:
    case opUnionAll: {
      const int32_t count = other->GetPhysicalRowCount();
      for (int32_t row = 1; row <= count; ++row) {
        if (!readLiveRow(*other, row, otherRow)) continue;
        copyInto(*current_, otherRow);
        int32_t found = 0;
        if (operation == opUnionAll || isNewDistinctRow(table_, *current_, found)) insertCurrent();
      }
      break;
    }
    case opExcept:
    case opExceptAll: {
      // Each following row removes at most one equal row of this result.
      const int32_t count = other->GetPhysicalRowCount();
      for (int32_t row = 1; row <= count; ++row) {
        if (!readLiveRow(*other, row, otherRow)) continue;
        copyInto(*current_, otherRow);
        int32_t found = 0;
        if (isNewDistinctRow(table_, *current_, found)) continue;
        if (!readLiveRow(table_, found, *compare_)) continue;
        int32_t counter = 0;
        table_.DeleteRow(*compare_, found, counter);
      }
      break;
    }
    case opIntersect:
    case opIntersectAll: {
      // Every following row matches at most one row of this result, so a
      // row kept m times here and n times there stays min(m, n) times.
      std::set<int32_t> matched;
      const bool all = operation == opIntersectAll;
      const int32_t count = table_.GetPhysicalRowCount();
      for (int32_t row = 1; row <= count; ++row) {
        if (!readLiveRow(table_, row, *current_)) continue;
        copyInto(otherRow, *current_);
        int32_t found = 0;
        const bool absent = isNewDistinctRow(*other, otherRow, found, all ? &matched : nullptr);
        if (!absent) {
          if (all) matched.insert(found);
          continue;
        }
        readLiveRow(table_, row, *current_);
        int32_t counter = 0;
        table_.DeleteRow(*current_, row, counter);
      }
      break;
    }
    default:
      break;
  }
  const int32_t orderIndex = q_.findResultIndex(kOrderByIndexName);
  if (orderIndex >= 0) q_.ResultIndex = orderIndex;
}

// ---------------------------------------------------------------------------

void TBRNQueryManager::SetBuildMemoryLimit(int64_t Bytes) {
  buildMemoryLimit.store(std::max<int64_t>(Bytes, 0), std::memory_order_relaxed);
}

int64_t TBRNQueryManager::GetBuildMemoryLimit() {
  return buildMemoryLimit.load(std::memory_order_relaxed);
}

bool TBRNQueryManager::BuildResultSet(bool ReportProgress) {
  // Each source table's Read lock is held once for the whole build rather
  // than taken and given back at every row step: the build sees one state
  // of its sources (a commit of another session never lands between two of
  // its rows) and saves two lock calls per row.
  std::vector<std::unique_ptr<TBRNCursorReadScope>> scopes;
  if (TBRNExprToken* from = FromList(Node)) {
    for (TBRNExprToken* table : from->Arguments()) {
      if (table == nullptr) continue;
      auto* cursor = dynamic_cast<TBRNLocalCursor*>(SourceValue(table).GetCursor());
      if (cursor != nullptr) scopes.push_back(std::make_unique<TBRNCursorReadScope>(*cursor));
    }
  }
  TBuild build(*this, ReportProgress);
  const bool built = build.Run();
  for (auto& scope : scopes) scope->End();
  return built;
}

void TBRNQueryManager::WriteResultPlan() {
  WriteInsensitiveResultPlan(AggregatesOnly && !HasGroupBy);
}

int32_t TBRNQueryManager::findResultIndexOf(TBRNVirtualTableManager& Table, const char* Name) {
  TBRNIndexes* indexes = Table.GetIndexes();
  if (indexes == nullptr) return -1;
  for (int32_t i = 0; i < indexes->Count(); ++i)
    if (TextEqualsIgnoreCase(indexes->GetItem(i)->Name, Name)) return i;
  return -1;
}

}  // namespace brn
