#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/types/data_types.h"
#include "foundation/values/value.h"
#include "foundation/values/value_list.h"

namespace brn {

class TBRNBitmap;
class TBRNIndex;
class TBRNIndexPage;

// How one key column is stored and compared. Every key column takes one flag
// byte (1 = a value is present, 0 = NULL) followed by the value stored as in
// the row image: fixed-length character and byte values take their declared
// length, variable ones a uint16 length and at most the declared length,
// scalars their fixed width.
enum class TBRNIndexKeyKind : uint8_t {
  Text,        // uint16 length, characters
  FixedText,   // declared length of characters, blank padded
  Bytes,       // uint16 length, bytes
  FixedBytes,  // declared length of bytes, zero padded
  Boolean,     // one byte
  Int16,
  Int32,  // Integer, Date, Time, year-month intervals
  Int64,  // BigInt, Decimal (scaled), Timestamp, day-time intervals
  Float,  // IEEE double
};

struct TBRNIndexKeyColumn {
  TBRNDataTypeCode DataType = dtInteger;
  TBRNDataSubType SubType = stDefault;
  int32_t Scale = 0;
  // Declared length of character and byte columns (characters or bytes of
  // data at most); 0 for scalars.
  int32_t Length = 0;
  int32_t Collation = 0;
  bool Descending = false;
  // Filled by TBRNIndexKeyLayout: where the flag byte lies in the key and
  // how many bytes (flag included) the column takes.
  TBRNIndexKeyKind Kind = TBRNIndexKeyKind::Int32;
  int32_t Offset = 0;
  int32_t KeySize = 0;
};

// The byte layout of the keys of one index: the key columns with their
// offsets, the key width, whether entries carry a row pointer (unique: the
// primary key) or an item list sorted by row ID (every other kind, the text
// index included), and the index name for messages. Immutable once built;
// the index file keeps one per index and pages and keys refer to it.
class TBRNIndexKeyLayout {
 public:
  // From an index definition: its columns resolved in its table (collation
  // and direction of each index column); a text index keys one word of
  // IndexedWordLength characters under its first column's collation. The
  // key width is the one the definition records (Columns->KeySize); columns
  // that do not fit in it, a BLOB column or a column the table lacks raise
  // std::invalid_argument.
  explicit TBRNIndexKeyLayout(TBRNIndex& index);
  // A layout given directly (indexes without a catalog definition, tests):
  // each column's Kind, Offset and KeySize are computed here, the key width
  // is their sum.
  TBRNIndexKeyLayout(std::string indexName, int32_t indexType,
                     std::vector<TBRNIndexKeyColumn> columns);

  TBRNIndex* GetIndex() const { return index_; }
  const std::string& GetIndexName() const { return indexName_; }
  int32_t GetIndexType() const { return indexType_; }
  bool IsUnique() const { return unique_; }
  bool IsTextIndex() const { return textIndex_; }
  int32_t GetKeyWidth() const { return keyWidth_; }
  int32_t GetColumnCount() const { return int32_t(columns_.size()); }
  const TBRNIndexKeyColumn& GetColumn(int32_t i) const { return columns_[size_t(i)]; }
  // Unique: key + int32 pointer; otherwise key + uint16 item count.
  int32_t GetEntrySize() const { return keyWidth_ + (unique_ ? 4 : 2); }
  // 8 (int32 row ID, int32 pointer) or 0 in a unique index.
  int32_t GetItemSize() const { return unique_ ? 0 : 8; }

  // Writes values (converted to each column's type where they differ) into
  // key at key width bytes; a value beyond the declared length is cut, fixed
  // ones are padded. Columns without a value are stored NULL.
  void EncodeKey(const TBRNValues& values, uint8_t* key) const;

 private:
  void finishColumns();

  TBRNIndex* index_ = nullptr;
  std::string indexName_;
  int32_t indexType_ = 0;
  bool unique_ = false;
  bool textIndex_ = false;
  int32_t keyWidth_ = 0;
  std::vector<TBRNIndexKeyColumn> columns_;
};

// Two stored keys of layout (key width bytes each) in index order: -1 when a
// comes first, 0 when they are equal, 1 when b does; each column under its
// collation and direction, NULL below every value, as CompareStored weighs a
// stored key against search values made from the other key's values (case
// sensitive, whole values). Lets a caller order keys it encoded itself
// without a value object per comparison.
int32_t CompareEncodedKeys(const TBRNIndexKeyLayout& layout, const uint8_t* a, const uint8_t* b);

// Search values read out once, so that a page search compares stored keys in
// place without a virtual call or a value object per comparison. The text
// and bytes of the values are referenced, not copied (converted ones are
// kept here): the values must stay unchanged while the search key is used.
class TBRNIndexSearchKey {
 public:
  TBRNIndexSearchKey() = default;
  TBRNIndexSearchKey(const TBRNIndexSearchKey&) = delete;
  TBRNIndexSearchKey& operator=(const TBRNIndexSearchKey&) = delete;

  // partialLength > 0 compares only that many characters of the last text
  // value; caseInsensitive ignores case in text columns.
  void Prepare(const TBRNIndexKeyLayout& layout, const TBRNKeyValues& values, int32_t partialLength,
               bool caseInsensitive);

  // The stored key at key (key width bytes) against the values: -1 stored
  // below, 0 equal, 1 stored above, each column under its collation and
  // direction. Only the columns the values have are compared; an empty
  // value list is below every key.
  int32_t CompareStored(const uint8_t* key) const;

  int32_t GetRowID() const { return rowID_; }
  int32_t GetCount() const { return count_; }
  int32_t GetPartialLength() const { return partialLength_; }
  // A partial length on a last text column with a locale collation: such
  // prefixes do not follow the key order, so page searches scan linearly.
  // (Fewer values than key columns keep the order: whole columns compare.)
  bool NeedsLinearScan() const { return linear_; }

 private:
  struct Column {
    bool Null = true;
    int64_t Int = 0;
    double Float = 0;
    const char* Data = nullptr;
    int32_t Length = 0;
  };

  void reserveConverted();

  // Keys of up to kInlineColumns columns need no allocation.
  static constexpr int32_t kInlineColumns = 4;

  const TBRNIndexKeyLayout* layout_ = nullptr;
  Column inline_[kInlineColumns];
  std::vector<Column> heap_;
  Column* columns_ = inline_;
  std::vector<std::string> converted_;
  int32_t count_ = 0;
  int32_t partialLength_ = 0;
  bool caseInsensitive_ = false;
  bool linear_ = false;
  int32_t rowID_ = 0;
};

class TBRNIndexKey;

// One key column's value in the page bytes of the item an index key stands
// on: it reads and writes the flag byte and the value in place (writing
// marks nothing: the page operations mark the page modified). Lengths read
// from the page are held to the column's declared length. BLOB data is never
// part of a key: the stream setters throw std::logic_error.
class TBRNIndexKeyValue final : public TBRNValue {
 public:
  TBRNIndexKeyValue(TBRNIndexKey* key, const TBRNIndexKeyColumn& column);

  const TBRNIndexKeyColumn& GetColumn() const { return column_; }

  bool GetNull() const override;
  void SetNullFlag(bool Value) override;
  int32_t GetDataSize() const override;
  void SetDataSize(int32_t Size) override;
  int32_t GetLength() const override;
  void SetLength(int32_t Length) override;
  const TBRNMemoryStream* GetStreamData() const override { return nullptr; }
  void GetStringData(std::string& Text) const override;
  const char* GetStringBuffer(int32_t& Length) const override;
  void GetBytesData(TBRNBytes& Bytes) const override;
  const uint8_t* GetBytesBuffer(int32_t& Length) const override;
  bool GetBooleanData() const override;
  int16_t GetSmallIntData() const override;
  int32_t GetInt32Data() const override;
  int64_t GetInt64Data() const override;
  int64_t GetDecimalData() const override;
  double GetFloatData() const override;
  void SetStringData(std::string_view Text) override;
  void SetBytesData(std::span<const uint8_t> Bytes) override;
  void SetStreamData(TBRNStream* Source, int32_t Count) override;
  void SetBooleanData(bool Value) override;
  void SetSmallIntData(int16_t Value) override;
  void SetInt32Data(int32_t Value) override;
  void SetInt64Data(int64_t Value) override;
  void SetDecimalData(int64_t Value) override;
  void SetFloatData(double Value) override;

 private:
  // The column's flag byte in the page (nullptr when the key stands nowhere).
  uint8_t* at() const;
  void writeData(const void* data, int32_t count);

  TBRNIndexKey* key_;
  TBRNIndexKeyColumn column_;
};

// A cursor on one item of one index page whose values are the page's bytes.
// Position: the entry, the item within the entry (the duplicate) and the
// derived byte offsets. A key with no page, or on a page without entries,
// stands nowhere: its values read as NULL. Positioning never reads outside
// the page's used bytes. Used by one thread.
class TBRNIndexKey : public TBRNKeyValues {
 public:
  explicit TBRNIndexKey(const TBRNIndexKeyLayout& layout);

  const TBRNIndexKeyLayout& GetLayout() const { return *layout_; }
  TBRNIndexPage* GetPage() const { return page_; }
  // Binds the key to page (nullptr: nowhere) and moves to its first item.
  void SetPage(TBRNIndexPage* page);
  int32_t GetEntry() const { return entry_; }
  int32_t GetDuplicate() const { return duplicate_; }
  // The ordinal of the item in the page (0-based): first item of the entry
  // plus the duplicate.
  int32_t GetItemNumber() const;
  int32_t GetEntryOffset() const { return entryOffset_; }
  int32_t GetItemOffset() const { return itemOffset_; }
  int32_t GetKeyWidth() const { return layout_->GetKeyWidth(); }
  // Whether the key stands on an item.
  bool IsPositioned() const;
  // The stored key bytes of the entry (nullptr when not positioned).
  const uint8_t* GetKeyBytes() const;

  // Moves; false (position unchanged) when there is no such item.
  bool First();
  bool Last();
  // The next item of the entry, else the first item of the next entry.
  bool Next();
  bool Prior();
  // Entry i (0 <= i < entry count), its first item.
  void SetEntry(int32_t i);
  // Item j of the current entry (0 <= j < its item count).
  void SetDuplicate(int32_t j);
  // Item n of the page (0 <= n < item total).
  void SetItem(int32_t n);
  // Binary search of the entry's items by row ID: true on an equal row ID.
  // Otherwise the key stands on the last item with a smaller row ID or, with
  // forInsert (or when no item is smaller), on the first item with a larger
  // one; an insertion point after the entry's last item has duplicate ==
  // the item count.
  bool FindDuplicate(int32_t rowID, bool forInsert);
  void CopyPosition(const TBRNIndexKey& source);

  int32_t GetRowPointer() const;
  void SetRowPointer(int32_t pointer);
  int32_t GetDuplicateCount() const;
  void SetDuplicateCount(int32_t count);
  // Sets the bits of the row pointers of the items from the position to the
  // end of the entry; numbers outside 1 .. the bitmap's size are skipped.
  void AddRowsToBitmap(TBRNBitmap& bitmap) const;
  // The same for the items of the entry before the position.
  void AddPriorRowsToBitmap(TBRNBitmap& bitmap) const;

  int32_t GetColumnCollation(int32_t Index) const override;
  bool GetColumnDescending(int32_t Index) const override;
  // The item's row ID (0 in a unique index).
  int32_t GetRowID() const override;
  void SetRowID(int32_t ID) override;

  // Internal: recomputes the offsets after the page's bytes moved.
  void UpdateOffsets();

 private:
  friend class TBRNIndexPage;

  // A page whose bytes have been checked for the layout.
  bool usable() const;

  const TBRNIndexKeyLayout* layout_;
  TBRNIndexPage* page_ = nullptr;
  int32_t entry_ = 0;
  int32_t duplicate_ = 0;
  int32_t entryOffset_ = 0;
  int32_t itemOffset_ = 0;
};

// Key values detached from pages, bound to an index's layout: the collation
// and direction of each key column and a row ID. The list owns its values.
class TBRNIndexLayoutKeyValues : public TBRNKeyValues {
 public:
  explicit TBRNIndexLayoutKeyValues(const TBRNIndexKeyLayout& layout);

  const TBRNIndexKeyLayout& GetLayout() const { return *layout_; }
  int32_t GetColumnCollation(int32_t Index) const override;
  bool GetColumnDescending(int32_t Index) const override;
  int32_t GetRowID() const override { return rowID_; }
  void SetRowID(int32_t ID) override { rowID_ = ID; }

 private:
  const TBRNIndexKeyLayout* layout_;
  int32_t rowID_ = 0;
};

// Key values bound to an index's layout over values owned elsewhere (the
// table manager fills them with row values).
class TBRNIndexKeyValues : public TBRNValueReferences<TBRNIndexLayoutKeyValues> {
 public:
  using TBRNValueReferences::TBRNValueReferences;
};

// Key values owning contained values shaped like the key columns (a text
// index: one character value of the word length): search keys, range bounds
// and keys being inserted.
class TBRNContainedIndexKeyValues : public TBRNIndexLayoutKeyValues {
 public:
  explicit TBRNContainedIndexKeyValues(const TBRNIndexKeyLayout& layout);
};

}  // namespace brn
