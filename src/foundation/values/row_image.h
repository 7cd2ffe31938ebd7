#pragma once

#include <cstdint>

namespace brn {

class TBRNValue;

// How a stored column lies in a row image, for readers that take its data
// straight from the bytes instead of through its value. The cell starts at
// Offset with the NULL indicator (0 NULL, 1 present); the data follows:
//   SmallInt, Int32, Int64, Float, Decimal, Boolean   the little-endian datum
//   FixedChars, FixedBytes        exactly Capacity characters or bytes
//   VariableChars, VariableBytes  uint16 length (at most Capacity counts),
//                                 then the characters or bytes
// Int32 also stores Date, Time and YearMonth intervals, Int64 Timestamps and
// DayTime intervals: the value's data type tells them apart.
enum class TBRNImageCellKind : uint8_t {
  None,  // not readable in place (computed, BLOB, CLOB, too narrow)
  Boolean,
  SmallInt,
  Int32,
  Int64,
  Float,
  Decimal,
  FixedChars,
  VariableChars,
  FixedBytes,
  VariableBytes,
};

struct TBRNImageCell {
  // The value whose data the cell holds: a reader may take the cell's bytes
  // instead of that value's getters only while the row still lists this
  // value at the cell's column.
  const TBRNValue* Value = nullptr;
  int32_t Offset = 0;
  int32_t Width = 0;     // indicator included
  int32_t Capacity = 0;  // characters or bytes of a CHAR or BYTE column
  TBRNImageCellKind Kind = TBRNImageCellKind::None;
};

// The current bytes of a row image. Layout names the cell layout: the cells
// a row answered stay valid for as long as it answers the same Layout
// (never 0 for a row that has an image; no two layouts share a number
// during a process). Bytes is nullptr and Size 0 when the row is bound to
// no image; a cell reaching beyond Size is not in this image (its value
// reads NULL).
struct TBRNRowImage {
  const uint8_t* Bytes = nullptr;
  int64_t Size = 0;
  uint64_t Layout = 0;
};

}  // namespace brn
