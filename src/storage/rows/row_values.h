#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/values/contained_value.h"
#include "foundation/values/value.h"
#include "foundation/values/value_list.h"
#include "sql/tree/expr.h"

namespace brn {

class TBRNColumn;
class TBRNColumns;
class TBRNExprToken;
class TBRNIndexColumns;
class TBRNRowValues;
class TBRNStaticRowValue;

// One column value of a row image (see TBRNRowValues for the layout). The
// value reads and writes its column's bytes in the owner's row buffer, or
// computes itself from the column's COMPUTED expression; it keeps the
// Modified flags that the row changes, triggers and constraint checks read.
//
// Errors of a row value name the column: code 1011, "An error occurred with
// the column <name> (<detail>)".
//
// Threads: a row value, its owner and the row buffer belong to one thread.
// Unlike plain values, the getters of a BLOB or CLOB value (and of a
// computed value) are not free of writes: they load or compute on first use.
// Every other const operation, row comparisons included, writes nothing.
class TBRNRowValue : public TBRNValue {
 public:
  // Copies data type, subtype, scale and collation from Column. Owner and
  // Column outlive the value.
  TBRNRowValue(TBRNRowValues& Owner, TBRNColumn& Column);
  ~TBRNRowValue() override;

  TBRNRowValues& GetOwner() const { return Owner; }
  TBRNColumn& GetColumn() const { return Column; }

  // Set by every change of the value; PreviousModified is the flag as it
  // was before the last SetModified.
  bool Modified = false;
  bool PreviousModified = false;

  // The value's data as a stream that may be written: a write into the
  // stream of a BLOB or CLOB value edits the value (it becomes modified and
  // not NULL). nullptr for types without stream data.
  virtual TBRNMemoryStream* GetBlobStream() = 0;
  // PreviousModified := Modified, Modified := Flag. With Flag true the
  // generated and computed columns that depend on this column become
  // modified as well and the row is marked modified. Not re-entered.
  virtual void SetModified(bool Flag);
  // The BLOB reference of the image (block number and stored length); 0 and
  // nothing for other values.
  virtual int32_t GetBlobBlock() const;
  virtual void SetBlobBlock(int32_t Block);
  virtual int32_t GetBlobLength() const;
  virtual void SetBlobLength(int32_t Length);
  // Modified false, then UnloadBlob.
  virtual void ClearModified();
  // The BLOB life cycle; nothing here (see TBRNStaticRowValue).
  virtual void LoadBlob();
  virtual void SaveBlob(int32_t RowVersion);
  virtual void UnloadBlob();

  // The column's form of the errors: "column", the column name, the detail.
  [[noreturn]] void RaiseTruncationError(std::string_view Text, bool IncludeText) const override;
  [[noreturn]] void RaiseOutOfRangeError(std::string_view Text, bool IncludeText) const override;
  [[noreturn]] void RaiseConversionError(std::string_view Text, bool IncludeText) const override;

 protected:
  // Nothing: a row value's stores write the NULL indicator themselves, as
  // their last step, so a converting setter that fails has not touched the
  // row (indicator, data and Modified flags stay as they were).
  void BeginSetting() override {}

  TBRNRowValues& Owner;
  TBRNColumn& Column;
  // Set while SetModified runs (dependent columns may lead back here).
  bool SettingModified = false;
};

// The stream holding a static value's loaded data. Outside loading, every
// change through SetSize, Write and WriteFromArray marks the value modified
// and not NULL (and writes the data of a CHAR or BYTE value back into the
// row image).
class TBRNStaticRowValueBlobMemoryStream : public TBRNMemoryStream {
 public:
  explicit TBRNStaticRowValueBlobMemoryStream(TBRNStaticRowValue& Value);

  TBRNStaticRowValue& Value;
  // Set while the value fills the stream itself.
  bool Loading = false;

  void SetSize(int64_t size) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t WriteFromArray(const TBRNBytes& bytes, int32_t offset, int32_t count) override;

 private:
  void changed();
};

// A value that works in place on its column's bytes in the row buffer: no
// scalar is copied. Column bytes at the column's row offset O: O the NULL
// indicator (0 NULL, 1 present), from O+1 the data:
//   CHAR / BYTE variable   uint16 length n, then n characters or bytes
//   CHAR / BYTE fixed,GUID exactly the declared length (blank / zero padded)
//   BLOB, CLOB             int32 first block in the BLOB file (0 = none),
//                          int32 stored length
//   other types            the fixed-width little-endian datum
// A write never reaches past the column's stored size, so a too-long value
// is either refused (error 1011) or cut, never written into the next column.
//
// BLOB and CLOB data is read through the owner's ReadBlob on first use
// (LoadBlob) and kept in the value's stream until saved (SaveBlob) or
// dropped (UnloadBlob). CHAR and BYTE values fill the same stream with a
// copy of their bytes when asked for a stream.
class TBRNStaticRowValue final : public TBRNRowValue {
 public:
  TBRNStaticRowValue(TBRNRowValues& Owner, TBRNColumn& Column);
  ~TBRNStaticRowValue() override;

  // Whether the stream holds the value's data.
  bool GetBlobLoaded() const { return BlobLoaded; }

  TBRNMemoryStream* GetBlobStream() override;
  int32_t GetBlobBlock() const override;
  void SetBlobBlock(int32_t Block) override;
  int32_t GetBlobLength() const override;
  void SetBlobLength(int32_t Length) override;
  void LoadBlob() override;
  void SaveBlob(int32_t RowVersion) override;
  void UnloadBlob() override;
  // Drops the loaded data whatever its state (the image it came from is
  // gone: another buffer or another image was loaded).
  void ForgetBlob();

  bool GetNull() const override;
  void SetNullFlag(bool Value) override;
  int32_t GetDataSize() const override;
  void SetDataSize(int32_t Size) override;
  int32_t GetLength() const override;
  void SetLength(int32_t Length) override;
  const TBRNMemoryStream* GetStreamData() const override;
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
  int32_t GetMemorySize() const override;
  // The base assignment, then SetModified(true).
  void Assign(const TBRNValue& Source) override;

 private:
  friend class TBRNStaticRowValueBlobMemoryStream;
  friend class TBRNRowValues;

  bool isLob() const { return DataType == dtLob; }
  bool hasStream() const { return DataType == dtChar || DataType == dtBytes || DataType == dtLob; }
  bool isFixedWidth() const;
  // The column's bytes in the buffer (nullptr when the buffer does not hold
  // them); the writable form grows the buffer to hold them.
  const uint8_t* columnBytes() const;
  uint8_t* writableColumnBytes();
  // Characters or bytes a CHAR or BYTE column can hold.
  int32_t dataCapacity() const;
  // Characters or bytes of a CHAR or BYTE value in the image.
  const uint8_t* imageData(int32_t& Length) const;
  // Writes text or bytes into a CHAR or BYTE column under the truncation
  // rules; a LOB takes the whole data into its stream.
  void storeData(std::span<const uint8_t> Bytes, bool IsText);
  template <typename T>
  T readScalar() const;
  template <typename T>
  void writeScalar(T Value);
  // The last step of every store: marks the indicator present and the
  // value modified.
  void markWritten();
  // LoadBlob for the const getters (the loaded copy is a cache).
  void ensureLoaded() const;
  // Whether the value keeps a stream.
  bool keepsStream() const { return BlobStream != nullptr; }
  // The stream changed outside loading.
  void streamChanged();

  // Bytes of the column in the image (0 for a computed column, which has
  // none).
  const int32_t Width;
  std::unique_ptr<TBRNStaticRowValueBlobMemoryStream> BlobStream;
  bool BlobLoaded = false;
};

// The expression of a computed value: it shares, never owns, the column's
// COMPUTED tree and names its kind as that expression does.
class TBRNComputedRowValueExpr : public TBRNExpr {
 public:
  TBRNComputedRowValueExpr(TBRNColumn& Column);
  ~TBRNComputedRowValueExpr() override;

  TBRNColumn& Column;

  std::string GetKindName() const override;
  bool OwnsRoot() const override { return false; }
};

// The result of a computed value: typed from the column (type, subtype,
// declared length, scale, collation) and holding its declared length.
class TBRNContainedRowExprValue : public TBRNContainedValue {
 public:
  bool EnforcesDeclaredLength() const override { return true; }
};

// A computed column's value: evaluated through the owner's ComputeColumn on
// first read and kept until the value is marked modified or cleared, so a
// row that does not change is computed once. Writes do nothing.
class TBRNComputedRowValue final : public TBRNRowValue {
 public:
  // Unevaluated. Column.ComputedExpr (compiled) outlives the value.
  TBRNComputedRowValue(TBRNRowValues& Owner, TBRNColumn& Column);
  ~TBRNComputedRowValue() override;

  bool GetEvaluated() const { return Evaluated; }
  const TBRNComputedRowValueExpr& GetExpr() const { return Expr; }
  // With Wanted true and not yet evaluated: ComputeColumn with the tree's
  // root and take the root's value as the result. Wanted false forgets the
  // result. Not re-entered (a re-entrant call keeps the current result).
  void Evaluate(bool Wanted);

  TBRNMemoryStream* GetBlobStream() override;
  // Forget the result first, so the next read evaluates again.
  void SetModified(bool Flag) override;
  void ClearModified() override;

  bool GetNull() const override;
  void SetNullFlag(bool Value) override;
  int32_t GetDataSize() const override;
  void SetDataSize(int32_t Size) override;
  int32_t GetLength() const override;
  void SetLength(int32_t Length) override;
  const TBRNMemoryStream* GetStreamData() const override;
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
  int32_t GetMemorySize() const override;
  void Assign(const TBRNValue& Source) override;
  void SaveToStream(TBRNMemoryStream& Stream) const override;
  void LoadFromStream(TBRNMemoryStream& Stream) override;

 private:
  // The evaluated result (reads evaluate first).
  const TBRNContainedRowExprValue& result() const;

  TBRNComputedRowValueExpr Expr;
  TBRNContainedRowExprValue Result;
  bool Evaluated = false;
  bool Busy = false;
  // Whether the result's stream was rewound since the last evaluation.
  mutable bool StreamRewound = false;
};

// The typed values of one row buffer: one row value per column of the
// table, laid over a TBRNMemoryStream whose bytes are the row image: a
// 17-byte row header (owned by the row file; read never, written only by
// SetAllNull) followed by each column at its row offset.
//
// The values work in place on the buffer, so SetBuffer rebinds them to
// another row without copying column data. BLOB reads and writes and the
// evaluation of computed columns go to the descendant (ReadBlob, WriteBlob,
// ComputeColumn).
//
// Threads: one thread at a time (the owning session's).
class TBRNRowValues : public TBRNValues {
 public:
  // TruncationErrors true, then one value per column of Columns (computed
  // columns get a computed value when EvaluateComputed). Columns outlives
  // the row values. A subclass overriding CreateValue rebuilds the values
  // in its own constructor (FreeValues, then CreateColumnValues).
  TBRNRowValues(TBRNColumns* Columns, bool EvaluateComputed);
  ~TBRNRowValues() override;

  // When true an over-long CHAR or BYTE value raises 1011; when false it is
  // cut silently.
  bool TruncationErrors = true;
  // Whether computed columns compute (else they read the stored bytes).
  const bool EvaluateComputed;
  // Set when any value becomes modified; cleared by ClearModified.
  bool RowModified = false;

  TBRNColumns* GetColumns() const { return Columns; }
  TBRNMemoryStream* GetBuffer() const { return Buffer; }
  // Binds the values to Buffer (not owned; nullptr unbinds). Clears every
  // modified flag and drops the data loaded from the previous buffer.
  void SetBuffer(TBRNMemoryStream* NewBuffer);
  // The row value of column Index.
  TBRNRowValue* GetRowValue(int32_t Index) const;

  // Reads the BLOB chain starting at BlockRef into Stream (empty; the reader
  // sizes it to the data the chain holds, decompressed).
  virtual void ReadBlob(int32_t BlockRef, TBRNMemoryStream& Stream, bool Compressed) = 0;
  // Writes Stream's data as the BLOB of the row of RowVersion, reusing the
  // chain at BlockRef (0 = none); answers the first block in BlockRef and
  // the length as stored (after compression) in StoredLength.
  virtual void WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                         int32_t Compression, int32_t& StoredLength) = 0;
  // Adds one value per column through CreateValue.
  virtual void CreateColumnValues();
  // Evaluates ExpressionRoot (a column's compiled COMPUTED tree) with these
  // values as the current row, leaving the result in ExpressionRoot->Value.
  virtual void ComputeColumn(TBRNExprToken* ExpressionRoot) = 0;
  // Compares the row's values of the index's key columns with KeyValues
  // (key order, as Compare does): the first non-zero result, else 0.
  virtual int32_t CompareWithKey(const TBRNValues& KeyValues, int32_t PartialLength,
                                 bool CaseInsensitive, TBRNIndexColumns& IndexColumns) const;
  // The buffer's bytes from offset 17 to its end, then with WithFlags one
  // Boolean byte per value (its Modified flag).
  virtual void SaveRowImage(TBRNMemoryStream& Target, bool WithFlags) const;
  // ClearModified, then the buffer's bytes from offset 17 from Source; with
  // WithFlags one flag byte per value, given to SetModified except for
  // computed and generated columns (read and ignored). A source that cannot
  // hold the image (and flags) raises 1011 and changes nothing.
  virtual void LoadRowImage(TBRNMemoryStream& Source, bool WithFlags);
  // LoadBlob, SaveBlob(RowVersion) on each BLOB and CLOB column;
  // UnloadBlob on every value.
  virtual void LoadBlobs();
  virtual void SaveBlobs(int32_t RowVersion);
  virtual void UnloadBlobs();
  // ClearModified on every value, then RowModified false.
  virtual void ClearModified();
  // SetModified(Flag) on every value, then RowModified = Flag.
  void SetAllModified(bool Flag);
  // Each BLOB and CLOB column takes Other's block number; the lengths stay.
  void CopyBlobReferences(const TBRNRowValues& Other);
  // Each BLOB and CLOB column's block number becomes 0; the lengths stay.
  void ClearBlobReferences();

  // A static or computed value for column Index.
  TBRNValue* CreateValue(int32_t Index) override;
  // Zeroes the whole buffer (header included), then ClearModified.
  void SetAllNull() override;
  // From row values: ClearModified, then the image bytes from offset 17 (as
  // many as both buffers hold); otherwise value by value.
  void Assign(const TBRNValues& Source) override;
  // The bound buffer with the layout of the cells CreateColumnValues made
  // (a new layout number each time it runs).
  TBRNRowImage GetRowImage() const override;
  // The cell of a static value whose data the image holds in a form the
  // in-place comparison reads too; false for computed, BLOB and CLOB
  // values and columns too narrow for their datum.
  bool GetImageCell(int32_t Index, TBRNImageCell& Cell) const override;
  // Over the shorter count, skipping Internal columns; CHAR and CLOB values
  // take PartialLength at Other's last value only, and their own collation.
  // Against other row values of the same column layout the stored columns
  // are compared in place in the two row buffers, without a virtual call
  // per column; the result is the value-by-value comparison's.
  int32_t Compare(const TBRNValues& Other, int32_t PartialLength,
                  bool CaseInsensitive) const override;

 private:
  friend class TBRNStaticRowValue;
  // How the in-place comparison reads a column (see compareCells).
  enum class TCellKind : uint8_t {
    Generic,  // through the values' own Compare (computed, BLOB, CLOB, ...)
    Boolean,
    SmallInt,
    Int32,
    Int64,
    Float,
    Decimal,
    FixedChars,     // CHAR fixed or GUID: the capacity's characters
    VariableChars,  // uint16 length, then the characters
    FixedBytes,
    VariableBytes,
  };
  // One column as the in-place comparison sees it, taken from the values
  // that CreateColumnValues made. The column's offset, size, type and
  // Internal flag are those of that moment: a table's columns do not
  // change under the row values built for them.
  struct TCompareCell {
    // The value the cell was made for; a static value unless Generic.
    TBRNRowValue* Value = nullptr;
    int32_t Offset = 0;
    int32_t Width = 0;
    int32_t Capacity = 0;  // characters or bytes of a CHAR or BYTE column
    TBRNDataTypeCode DataType = dtNull;
    TCellKind Kind = TCellKind::Generic;
    bool Text = false;
    bool Internal = false;

    // Whether two cells read the same bytes the same way.
    bool SameShape(const TCompareCell& Other) const {
      return Kind == Other.Kind && Kind != TCellKind::Generic && Offset == Other.Offset &&
             Width == Other.Width && Capacity == Other.Capacity && DataType == Other.DataType;
    }
  };
  // The cell of column Index's value (Generic unless a static value whose
  // bytes the in-place comparison can read).
  TCompareCell makeCompareCell(int32_t Index) const;
  // Compare against row values, both with a cell for every compared
  // column: in place where both cells still describe their values and have
  // the same shape, value by value for the other columns.
  int32_t compareCells(const TBRNRowValues& Other, int32_t PartialLength,
                       bool CaseInsensitive) const;
  // Drops the loaded data of every static value.
  void forgetLoadedData();

  TBRNColumns* Columns;
  TBRNMemoryStream* Buffer = nullptr;
  // Positions of the BLOB and CLOB values.
  std::vector<int32_t> BlobIndexes;
  // The static values that keep a stream (CHAR, BYTE, BLOB, CLOB).
  std::vector<TBRNStaticRowValue*> StreamValues;
  // One cell per value, in column order (see compareCells).
  std::vector<TCompareCell> CompareCells;
  // The dynamic type of the last compared list that was row values.
  mutable const std::type_info* KnownRowType = nullptr;
  // The layout number of CompareCells (see GetRowImage).
  uint64_t ImageLayout = 0;
};

}  // namespace brn
