#pragma once

// A read-only current row laid out as the row files lay out a row image
// (indicator byte, then the little-endian datum or the characters), whose
// values read their cells in place and which answers its image, so that a
// program can read the cells itself. Shared by the evaluator tests and the
// evaluator benchmark; nothing in it is the engine's.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/values/row_image.h"
#include "foundation/values/value.h"
#include "foundation/values/value_list.h"

namespace brn::testing {

struct ImageColumn {
  TBRNDataTypeCode Type = dtInteger;
  int32_t Capacity = 0;  // characters of a CHAR column
  bool Fixed = false;    // a fixed-length CHAR column
  int32_t Collation = 0;
};

class ImageRow;

// One column's value over the row's current image.
class ImageValue final : public TBRNValue {
 public:
  ImageValue(const ImageRow& Row, const ImageColumn& Column, int32_t Offset)
      : Row(Row), Column(Column), Offset(Offset) {
    SetDataType(Column.Type);
    SetCollation(Column.Collation);
  }

  bool GetNull() const override { return cell()[0] == 0; }
  void SetNullFlag(bool) override { readOnly(); }
  int32_t GetDataSize() const override { return 0; }
  void SetDataSize(int32_t) override { readOnly(); }
  int32_t GetLength() const override {
    int32_t length = 0;
    GetStringBuffer(length);
    return length;
  }
  void SetLength(int32_t) override { readOnly(); }
  const TBRNMemoryStream* GetStreamData() const override { return nullptr; }
  void GetStringData(std::string& Text) const override {
    int32_t length = 0;
    const char* chars = GetStringBuffer(length);
    Text.assign(chars == nullptr ? "" : chars, size_t(length));
  }
  const char* GetStringBuffer(int32_t& Length) const override {
    Length = 0;
    if (Column.Type != dtChar) return nullptr;
    const uint8_t* bytes = cell();
    if (Column.Fixed) {
      Length = Column.Capacity;
      return reinterpret_cast<const char*>(bytes + 1);
    }
    uint16_t length;
    std::memcpy(&length, bytes + 1, 2);
    Length = length < Column.Capacity ? length : Column.Capacity;
    return reinterpret_cast<const char*>(bytes + 3);
  }
  void GetBytesData(TBRNBytes& Bytes) const override { Bytes.clear(); }
  const uint8_t* GetBytesBuffer(int32_t& Length) const override {
    Length = 0;
    return nullptr;
  }
  bool GetBooleanData() const override { return cell()[1] != 0; }
  int16_t GetSmallIntData() const override { return read<int16_t>(); }
  int32_t GetInt32Data() const override { return read<int32_t>(); }
  int64_t GetInt64Data() const override { return read<int64_t>(); }
  int64_t GetDecimalData() const override { return read<int64_t>(); }
  double GetFloatData() const override { return read<double>(); }
  void SetStringData(std::string_view) override { readOnly(); }
  void SetBytesData(std::span<const uint8_t>) override { readOnly(); }
  void SetStreamData(TBRNStream*, int32_t) override { readOnly(); }
  void SetBooleanData(bool) override { readOnly(); }
  void SetSmallIntData(int16_t) override { readOnly(); }
  void SetInt32Data(int32_t) override { readOnly(); }
  void SetInt64Data(int64_t) override { readOnly(); }
  void SetDecimalData(int64_t) override { readOnly(); }
  void SetFloatData(double) override { readOnly(); }

 private:
  [[noreturn]] static void readOnly() { throw std::logic_error("an image value is read-only"); }
  const uint8_t* cell() const;
  template <typename T>
  T read() const {
    T value;
    std::memcpy(&value, cell() + 1, sizeof(T));
    return value;
  }

  const ImageRow& Row;
  const ImageColumn& Column;
  const int32_t Offset;
};

class ImageRow final : public TBRNValues {
 public:
  // With AnswerImage false the row hides its image: readers go through the
  // values.
  ImageRow(std::vector<ImageColumn> Columns, bool AnswerImage)
      : Columns(std::move(Columns)), AnswerImage(AnswerImage) {
    static std::atomic<uint64_t> layouts{1000000};
    Layout = ++layouts;
    for (const ImageColumn& column : this->Columns) {
      Offsets.push_back(RowSize);
      RowSize += 1 + width(column);
    }
    for (size_t i = 0; i < this->Columns.size(); ++i)
      Add(new ImageValue(*this, this->Columns[i], Offsets[i]));
    Own.assign(size_t(RowSize), 0);
    Bytes = Own.data();
  }

  int32_t GetRowSize() const { return RowSize; }
  // Points the row at another image of GetRowSize bytes (not owned).
  void SetBytes(const uint8_t* NewBytes) { Bytes = NewBytes; }
  const uint8_t* GetBytes() const { return Bytes; }

  // Writers of the row's own image (an empty Text with Null set).
  void SetNullCell(int32_t Index, bool Null) { Own[size_t(Offsets[size_t(Index)])] = Null ? 0 : 1; }
  template <typename T>
  void SetScalar(int32_t Index, T Value, bool Null = false) {
    uint8_t* cell = Own.data() + Offsets[size_t(Index)];
    cell[0] = Null ? 0 : 1;
    std::memcpy(cell + 1, &Value, sizeof(T));
  }
  void SetText(int32_t Index, std::string_view Text, bool Null = false) {
    const ImageColumn& column = Columns[size_t(Index)];
    uint8_t* cell = Own.data() + Offsets[size_t(Index)];
    cell[0] = Null ? 0 : 1;
    std::string text(Text.substr(0, size_t(column.Capacity)));
    if (column.Fixed) {
      text.resize(size_t(column.Capacity), ' ');
      std::memcpy(cell + 1, text.data(), text.size());
    } else {
      uint16_t length = uint16_t(text.size());
      std::memcpy(cell + 1, &length, 2);
      std::memcpy(cell + 3, text.data(), text.size());
    }
  }

  TBRNRowImage GetRowImage() const override {
    if (!AnswerImage) return {};
    return TBRNRowImage{Bytes, RowSize, Layout};
  }
  bool GetImageCell(int32_t Index, TBRNImageCell& Cell) const override {
    if (!AnswerImage || Index < 0 || size_t(Index) >= Columns.size()) return false;
    const ImageColumn& column = Columns[size_t(Index)];
    Cell.Value = GetItem(Index);
    Cell.Offset = Offsets[size_t(Index)];
    Cell.Width = 1 + width(column);
    Cell.Capacity = column.Capacity;
    switch (column.Type) {
      case dtBoolean:
        Cell.Kind = TBRNImageCellKind::Boolean;
        break;
      case dtSmallInt:
        Cell.Kind = TBRNImageCellKind::SmallInt;
        break;
      case dtInteger:
        Cell.Kind = TBRNImageCellKind::Int32;
        break;
      case dtBigInt:
        Cell.Kind = TBRNImageCellKind::Int64;
        break;
      case dtFloat:
        Cell.Kind = TBRNImageCellKind::Float;
        break;
      case dtChar:
        Cell.Kind = column.Fixed ? TBRNImageCellKind::FixedChars : TBRNImageCellKind::VariableChars;
        break;
      default:
        return false;
    }
    return true;
  }

 private:
  friend class ImageValue;
  static int32_t width(const ImageColumn& Column) {
    switch (Column.Type) {
      case dtBoolean:
        return 1;
      case dtSmallInt:
        return 2;
      case dtInteger:
        return 4;
      case dtChar:
        return Column.Fixed ? Column.Capacity : 2 + Column.Capacity;
      default:
        return 8;
    }
  }

  std::vector<ImageColumn> Columns;
  std::vector<int32_t> Offsets;
  int32_t RowSize = 0;
  std::vector<uint8_t> Own;
  const uint8_t* Bytes = nullptr;
  uint64_t Layout = 0;
  bool AnswerImage;
};

inline const uint8_t* ImageValue::cell() const {
  return Row.Bytes + Offset;
}

}  // namespace brn::testing
