#include "storage/cursors/cursor.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/values/value.h"

namespace brn {

namespace {

// A damaged row stream: the value conversion error that the value lists and
// row images raise for bytes that cannot be what they claim, naming the
// offending number.
[[noreturn]] void raiseDamagedRowStream(int64_t Number) {
  const auto shown = int32_t(std::clamp<int64_t>(Number, INT32_MIN, INT32_MAX));
  RaiseConversionFailure("value", IntegerToString(shown), TBRNValue::ConversionDetail("", false));
}

// Whether column Index of the row values is a BLOB or CLOB column whose data
// a row stream carries (stored, not computed).
bool isStreamedBlob(const TBRNRowValues& Values, int32_t Index) {
  const TBRNColumn& column = Values.GetRowValue(Index)->GetColumn();
  return column.DataType == dtLob && !column.Computed;
}

// The position of Column's value in Values (-1 when the values have none).
int32_t valuePosition(const TBRNRowValues& Values, const TBRNColumn* Column) {
  if (Column == nullptr) return -1;
  const int32_t at = Column->Index;
  if (at >= 0 && at < Values.GetCount() && &Values.GetRowValue(at)->GetColumn() == Column)
    return at;
  for (int32_t i = 0; i < Values.GetCount(); ++i) {
    if (&Values.GetRowValue(i)->GetColumn() == Column) return i;
  }
  return -1;
}

// Sets the stream's Loading flag for the life of the guard: what the row
// writes into a value's stream then marks nothing.
class TQuietStream {
 public:
  explicit TQuietStream(TBRNStaticRowValueBlobMemoryStream& Stream)
      : Stream(Stream), Previous(Stream.Loading) {
    Stream.Loading = true;
  }
  ~TQuietStream() { Stream.Loading = Previous; }
  TQuietStream(const TQuietStream&) = delete;
  TQuietStream& operator=(const TQuietStream&) = delete;

 private:
  TBRNStaticRowValueBlobMemoryStream& Stream;
  bool Previous;
};

}  // namespace

// ---------------------------------------------------------------------------
// TBRNCursorRowValues

TBRNCursorRowValues::TBRNCursorRowValues(TBRNCursorRow& Row)
    : TBRNRowValues(&Row.GetCursor().GetTableColumns(), true), Row(Row) {}

TBRNCursorRowValues::~TBRNCursorRowValues() = default;

void TBRNCursorRowValues::ReadBlob(int32_t BlockRef, TBRNMemoryStream& Stream, bool Compressed) {
  if (SkipBlobReads) return;
  Row.GetCursor().ReadBlob(Row.RowVersion, BlockRef, Stream, Compressed);
}

void TBRNCursorRowValues::WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                                    int32_t Compression, int32_t& StoredLength) {
  Row.GetCursor().WriteBlob(RowVersion, BlockRef, Stream, Compression, StoredLength);
}

void TBRNCursorRowValues::ComputeColumn(TBRNExprToken* ExpressionRoot) {
  Row.GetCursor().ComputeColumn(ExpressionRoot, *this);
}

// ---------------------------------------------------------------------------
// TBRNCursorRow

TBRNCursorRow::TBRNCursorRow(TBRNCursor& Cursor)
    : Cursor(Cursor), Values(*this), Bookmark(&Cursor, &Values), KeyValues(&Cursor, &Values) {
  Buffer.SetSize(std::max(Cursor.GetTableColumns().RowSize, kRowHeaderSize));
  Values.SetBuffer(&Buffer);
}

TBRNCursorRow::~TBRNCursorRow() = default;

int32_t TBRNCursorRow::imageSize() const {
  return std::max<int32_t>(int32_t(Buffer.GetSize()) - kRowHeaderSize, 0);
}

void TBRNCursorRow::Assign(const TBRNCursorRow& Other) {
  if (&Other == this) return;
  RowNumber = Other.RowNumber;
  RowStatus = Other.RowStatus;
  RowVersion = Other.RowVersion;
  UpdateCounter = Other.UpdateCounter;
  RowReserved = Other.RowReserved;
  Values.Assign(Other.Values);
}

void TBRNCursorRow::Clear() {
  Values.SetAllNull();
}

void TBRNCursorRow::BuildBookmark() {
  Bookmark.Clear();
  TBRNBookmarkColumns& columns = Cursor.GetBookmarkColumns();
  for (int32_t i = 0; i < columns.Count(); ++i) {
    const int32_t at = valuePosition(Values, columns.GetColumn(i)->GetColumn());
    if (at < 0) throw std::logic_error("a bookmark column is not a column of the cursor's row");
    Bookmark.Add(Values.GetItem(at));
  }
}

void TBRNCursorRow::SaveToStream(TBRNMemoryStream& Stream) const {
  Stream.WriteInteger(RowNumber);
  Stream.WriteByte(RowStatus);
  Stream.WriteInteger(RowVersion);
  Stream.WriteInteger(UpdateCounter);
  Stream.WriteInteger(RowReserved);
  Values.SaveRowImage(Stream, false);
}

void TBRNCursorRow::LoadFromStream(TBRNMemoryStream& Stream) {
  loadRow(Stream, false, false);
}

void TBRNCursorRow::SaveToStreamWithBlobs(TBRNMemoryStream& Stream, bool WithFlags,
                                          bool WithBlobs) {
  // The BLOB list first into a stream of its own: loading the data may fail,
  // and then Stream holds nothing of this row.
  TBRNMemoryStream blobs;
  if (WithBlobs) SaveBlobsToStream(blobs);
  SaveToStream(Stream);
  if (WithFlags) {
    for (int32_t i = 0; i < Values.GetCount(); ++i)
      Stream.WriteBoolean(Values.GetRowValue(i)->Modified);
  }
  if (WithBlobs) blobs.SaveToStream(Stream, 0);
}

void TBRNCursorRow::LoadFromStreamWithBlobs(TBRNMemoryStream& Stream, bool WithFlags,
                                            bool WithBlobs) {
  loadRow(Stream, WithFlags, WithBlobs);
}

void TBRNCursorRow::SaveBlobsToStream(TBRNMemoryStream& Stream) {
  // Every value's data is loaded before the first byte is written.
  std::vector<std::pair<int32_t, TBRNMemoryStream*>> modified;
  for (int32_t i = 0; i < Values.GetCount(); ++i) {
    TBRNRowValue* value = Values.GetRowValue(i);
    if (!isStreamedBlob(Values, i) || !value->Modified) continue;
    TBRNMemoryStream* data = value->GetBlobStream();
    if (data == nullptr) continue;
    modified.emplace_back(i, data);
  }
  Stream.WriteInteger(int32_t(modified.size()));
  for (const auto& [index, data] : modified) {
    const auto length = int32_t(data->GetSize());
    Stream.WriteInteger(index);
    Stream.WriteInteger(length);
    if (length > 0) Stream.Write(data->GetMemory(), length);
  }
}

void TBRNCursorRow::LoadBlobsFromStream(TBRNMemoryStream& Stream) {
  const std::vector<TBlobEntry> entries = scanBlobList(Stream);
  const int64_t end = Stream.GetPosition();
  applyBlobList(Stream, entries);
  Stream.SetPosition(end);
}

std::vector<TBRNCursorRow::TBlobEntry> TBRNCursorRow::scanBlobList(TBRNMemoryStream& Stream) const {
  int32_t streamed = 0;
  for (int32_t i = 0; i < Values.GetCount(); ++i) {
    if (isStreamedBlob(Values, i)) ++streamed;
  }
  if (Stream.GetRemaining() < 4) raiseDamagedRowStream(Stream.GetRemaining());
  const int32_t count = Stream.ReadInteger();
  // Each entry takes at least its two int32 words.
  if (count < 0 || count > streamed || int64_t(count) * 8 > Stream.GetRemaining())
    raiseDamagedRowStream(count);
  std::vector<TBlobEntry> entries;
  entries.reserve(size_t(count));
  int32_t previous = -1;
  for (int32_t n = 0; n < count; ++n) {
    if (Stream.GetRemaining() < 8) raiseDamagedRowStream(Stream.GetRemaining());
    const int32_t index = Stream.ReadInteger();
    const int32_t length = Stream.ReadInteger();
    // In column order, each column once, and only a column the list carries.
    if (index <= previous || index >= Values.GetCount() || !isStreamedBlob(Values, index))
      raiseDamagedRowStream(index);
    if (length < 0 || length > kMaxStreamedBlobLength || length > Stream.GetRemaining())
      raiseDamagedRowStream(length);
    const auto position = int32_t(Stream.GetPosition());
    entries.push_back({index, position, length});
    Stream.SetPosition(int64_t(position) + length);
    previous = index;
  }
  return entries;
}

void TBRNCursorRow::applyBlobList(TBRNMemoryStream& Stream,
                                  const std::vector<TBlobEntry>& Entries) {
  for (const TBlobEntry& entry : Entries) {
    // Computed columns never get here, so the value is a static one.
    auto* value = dynamic_cast<TBRNStaticRowValue*>(Values.GetRowValue(entry.Index));
    if (value == nullptr) continue;
    TBRNMemoryStream* data = nullptr;
    {
      // Marks the value loaded (an empty stream) without asking the cursor
      // for the data the stream is about to give.
      Values.SkipBlobReads = true;
      struct TRestore {
        bool& Flag;
        ~TRestore() { Flag = false; }
      } restore{Values.SkipBlobReads};
      data = value->GetBlobStream();
    }
    auto& target = static_cast<TBRNStaticRowValueBlobMemoryStream&>(*data);
    TQuietStream quiet(target);
    target.SetSize(0);
    target.SetSize(entry.Length);
    Stream.SetPosition(entry.Position);
    if (entry.Length > 0) Stream.Read(target.GetMemory(), entry.Length);
    target.SetPosition(0);
  }
}

void TBRNCursorRow::loadRow(TBRNMemoryStream& Stream, bool WithFlags, bool WithBlobs) {
  // Everything is checked before the row changes.
  const int64_t needed =
      int64_t(kRowHeaderSize) + imageSize() + (WithFlags ? Values.GetCount() : 0);
  if (Stream.GetRemaining() < needed) raiseDamagedRowStream(Stream.GetRemaining());
  const int64_t start = Stream.GetPosition();
  std::vector<TBlobEntry> entries;
  int64_t end = start + needed;
  if (WithBlobs) {
    Stream.SetPosition(end);
    try {
      entries = scanBlobList(Stream);
    } catch (...) {
      Stream.SetPosition(start);
      throw;
    }
    end = Stream.GetPosition();
    Stream.SetPosition(start);
  }
  RowNumber = Stream.ReadInteger();
  RowStatus = Stream.ReadByte();
  RowVersion = Stream.ReadInteger();
  UpdateCounter = Stream.ReadInteger();
  RowReserved = Stream.ReadInteger();
  Values.LoadRowImage(Stream, WithFlags);
  if (WithBlobs) applyBlobList(Stream, entries);
  Stream.SetPosition(end);
}

// ---------------------------------------------------------------------------
// TBRNCursor

TBRNCursor::TBRNCursor(const std::string& Name, bool ReadOnly, bool Exclusive)
    : Name(Name),
      ReadOnly(ReadOnly),
      Exclusive(Exclusive),
      TableColumns(std::make_unique<TBRNColumns>(nullptr)),
      CursorColumns(std::make_unique<TBRNCursorColumns>(this)),
      BookmarkColumns(std::make_unique<TBRNBookmarkColumns>(this)),
      Indexes(std::make_unique<TBRNCursorIndexes>(this)),
      RowLocks(std::make_unique<TBRNRowLocks>()) {}

TBRNCursor::~TBRNCursor() {
  // The filter row's values lie over the table columns.
  FilterRow.reset();
}

TBRNIndex* TBRNCursor::GetCursorActiveIndex() const {
  const int32_t index = GetActiveIndex();
  return index >= 0 && index < Indexes->Count() ? Indexes->GetItem(index) : nullptr;
}

int32_t TBRNCursor::GetActiveIndex() const {
  return -1;
}

void TBRNCursor::SetActiveIndex(int32_t Index) {
  if (Index < 0 || Index >= Indexes->Count() || Index == GetActiveIndex()) return;
  TBRNIndex* index = Indexes->GetItem(Index);
  BookmarkColumns->Clear();
  try {
    for (int32_t i = 0; i < index->Columns->Count(); ++i) {
      std::unique_ptr<TBRNConfigObject> column(BookmarkColumns->NewItem());
      column->Assign(index->Columns->GetItem(i), false);
      BookmarkColumns->AddObject(column.get());
      column.release();
    }
  } catch (...) {
    BookmarkColumns->Clear();
    throw;
  }
  BookmarkHasRowID = index->IndexType != kIndexPrimaryKey;
  ActiveIndexName = index->Name;
  if (FilterRow) FilterRow->BuildBookmark();
}

void TBRNCursor::RaiseCursorError(const std::string& Detail) const {
  throw EBRNException(kCursorErrorCode,
                      FormatText("An error occurred with the cursor %s (%s)", {Name, Detail}));
}

void TBRNCursor::RaiseReadOnlyError() const {
  RaiseCursorError("An attempt was made to update a read-only cursor");
}

bool TBRNCursor::GetBof() {
  return Bof;
}

bool TBRNCursor::GetEof() {
  return Eof;
}

void TBRNCursor::RaiseFilterError(const std::string& Message) const {
  throw EBRNException(kFilterErrorCode, FormatText("A filter error occurred (%s)", {Message}));
}

bool TBRNCursor::IsRowLocked() {
  return RowLocks->IsLocked(GetRowNumber());
}

void TBRNCursor::LockRow(TBRNCursorRow& Row, int32_t /*Option1*/, int32_t /*Option2*/) {
  RowLocks->AddLock(this, Row.RowNumber, 1);
}

void TBRNCursor::UnlockRow(TBRNCursorRow& Row) {
  RowLocks->RemoveLock(Row.RowNumber);
}

void TBRNCursor::UnlockAllRows() {
  RowLocks->Clear();
}

std::unique_ptr<TBRNCursorRow> TBRNCursor::CreateRow() {
  return std::make_unique<TBRNCursorRow>(*this);
}

void TBRNCursor::InitializeRow(TBRNCursorRow& Row) {
  Row.Clear();
}

void TBRNCursor::CopyCurrentRow(TBRNCursorRow& Row) {
  GetCurrentRow(Row, false);
  Row.RowNumber = 0;
  Row.UpdateCounter = 0;
  if (Row.Values.GetCount() > 0) Row.Values.GetItem(0)->SetAsInteger(0);
  // The copy carries the BLOB data itself, so an insert writes every column
  // into chains of its own: the references to the source row's chains go,
  // or saving the copy would write over the source row's BLOBs.
  Row.Values.LoadBlobs();
  Row.Values.ClearBlobReferences();
  Row.Values.SetAllModified(true);
}

int32_t TBRNCursor::FillKeyValues(TBRNCursorRow& Row, int32_t Count) {
  Row.KeyValues.Clear();
  TBRNIndex* index = GetCursorActiveIndex();
  if (index == nullptr) return 0;
  const int32_t columns = index->Columns->Count();
  const int32_t wanted = Count < 0 ? columns : std::min(Count, columns);
  for (int32_t i = 0; i < wanted; ++i) {
    const int32_t at = valuePosition(Row.Values, index->Columns->GetItem(i)->GetColumn());
    if (at < 0) throw std::logic_error("an index column is not a column of the cursor's row");
    Row.KeyValues.Add(Row.Values.GetItem(at));
  }
  return wanted;
}

void TBRNCursor::CheckReadOnly() const {
  if (ReadOnly) RaiseReadOnlyError();
}

void TBRNCursor::UpdateBofEof() {
  const bool bof = GetBof();
  const bool eof = GetEof();
  Bof = bof;
  Eof = eof;
}

void TBRNCursor::SetRowFilter(TBRNRowFilterEvent Event, void* Data) {
  RowFilter = std::move(Event);
  RowFilterData = Data;
  if (!RowFilter) {
    FilterRow.reset();
    return;
  }
  FilterRow = CreateRow();
  FilterRow->BuildBookmark();
}

bool TBRNCursor::RowFilterAccepts() {
  bool accept = true;
  if (RowFilter) RowFilter(RowFilterData, accept);
  return accept;
}

bool TBRNCursor::ApplyRowFilter(TBRNDirection Direction) {
  UpdateBofEof();
  if (!RowFilter || (Bof && Eof)) return true;
  bool first = true;
  bool firstAccepted = false;
  // Reads the current row into the filter row; true when the filter takes it.
  auto tryRow = [&] {
    ReadRow(*FilterRow);
    const bool accepted = RowFilterAccepts();
    if (first) firstAccepted = accepted;
    first = false;
    return accepted;
  };
  auto walk = [&](bool backward) {
    while (!(backward ? Bof : Eof)) {
      if (tryRow()) return true;
      if (backward) {
        StepPrior();
      } else {
        StepNext();
      }
      UpdateBofEof();
    }
    return false;
  };
  const bool backward = Direction > kDirectionForward;
  if (!walk(backward)) walk(!backward);
  return firstAccepted;
}

bool TBRNCursor::CurrentRowMatchesKey(TBRNIndexColumns& Columns, const TBRNValues& KeyValues,
                                      int32_t PartialLength, bool CaseInsensitive) {
  if (Bof && Eof) return false;
  std::unique_ptr<TBRNCursorRow> row = CreateRow();
  ReadRow(*row);
  return row->Values.CompareWithKey(KeyValues, PartialLength, CaseInsensitive, Columns) == 0;
}

int32_t TBRNCursor::GetPartialKeyLength(const TBRNValues& KeyValues) const {
  TBRNIndex* index = GetCursorActiveIndex();
  const int32_t last = KeyValues.GetCount() - 1;
  if (index == nullptr || last < 0 || last >= index->Columns->Count()) return 0;
  const TBRNColumn* column = index->Columns->GetItem(last)->GetColumn();
  const TBRNValue* value = KeyValues.GetItem(last);
  if (column == nullptr || column->DataType != dtChar || value == nullptr || value->GetNull())
    return 0;
  return int32_t(value->GetAsString().size());
}

void TBRNCursor::BuildColumns() {
  CursorColumns->Clear();
  for (int32_t i = 0; i < TableColumns->Count(); ++i) {
    TBRNColumn* source = TableColumns->GetItem(i);
    if (source->Internal) continue;
    auto column = std::make_unique<TBRNCursorColumn>(nullptr);
    column->ID = source->ID;
    column->Name = source->Name;
    column->Description = source->Description;
    column->ReadOnly = source->ReadOnly;
    column->SetTableColumn(source);
    CursorColumns->AddObject(column.get());
    column.release();
  }
}

std::unique_ptr<TBRNMappedCursorColumns> TBRNCursor::CreateMappedColumns(
    const std::string& NameList) const {
  auto mapped = std::make_unique<TBRNMappedCursorColumns>(const_cast<TBRNCursor*>(this));
  size_t start = 0;
  while (start <= NameList.size()) {
    size_t end = NameList.find(';', start);
    if (end == std::string::npos) end = NameList.size();
    std::string name = NameList.substr(start, end - start);
    name.erase(0, name.find_first_not_of(' '));
    if (!name.empty()) mapped->AddObject(CursorColumns->FindByName(name, true));
    start = end + 1;
  }
  return mapped;
}

std::unique_ptr<TBRNMappedCursorColumns> TBRNCursor::CreateIndexColumns(int32_t Index) const {
  auto mapped = std::make_unique<TBRNMappedCursorColumns>(const_cast<TBRNCursor*>(this));
  TBRNIndex* index = nullptr;
  if (Index == -1) {
    index = GetCursorActiveIndex();
    if (index == nullptr) return mapped;
  } else {
    if (Index < 0 || Index >= Indexes->Count())
      throw std::out_of_range("CreateIndexColumns: index out of range");
    index = Indexes->GetItem(Index);
  }
  for (int32_t i = 0; i < index->Columns->Count(); ++i) {
    TBRNColumn* column = index->Columns->GetItem(i)->GetColumn();
    if (column == nullptr) throw std::logic_error("an index column has no table column");
    mapped->AddObject(CursorColumns->FindByName(column->Name, true));
  }
  return mapped;
}

std::unique_ptr<TBRNMappedCursorColumns> TBRNCursor::CreateActiveIndexColumns() const {
  return CreateIndexColumns(-1);
}

TBRNIndex* TBRNCursor::FindIndexForColumns(TBRNMappedCursorColumns& Columns,
                                           bool CaseInsensitive) const {
  for (int32_t i = 0; i < Indexes->Count(); ++i) {
    TBRNIndex* index = Indexes->GetItem(i);
    if (index->IndexType == kIndexText || index->Columns->Count() < Columns.Count()) continue;
    bool matches = true;
    for (int32_t k = 0; matches && k < Columns.Count(); ++k) {
      TBRNColumn* wanted = Columns.GetColumn(k)->GetTableColumn();
      TBRNIndexColumn* keyColumn = index->Columns->GetItem(k);
      matches = wanted != nullptr && keyColumn->GetColumn() == wanted &&
                (wanted->DataType != dtChar ||
                 IsBitSet(keyColumn->Collation, CaseInsensitiveBit) == CaseInsensitive);
    }
    if (matches) return index;
  }
  return nullptr;
}

}  // namespace brn
