#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "foundation/core/bytes.h"
#include "foundation/types/data_types.h"
#include "platform/float_date.h"

namespace brn {

class TBRNContainedValue;
class TBRNMemoryStream;
class TBRNStream;
class TVariant;

// The engine's typed SQL value: one datum of any data type with its NULL
// state. The class converts between every type through the getters and
// setters below; where the data lives is left to subclasses, which implement
// the raw-access band (one getter and one setter per storage kind):
//   Char, CLOB                         string data (in place: string buffer)
//   Bytes, BLOB                        bytes data (in place: bytes buffer);
//                                      a LOB also as a stream
//   Boolean / SmallInt                 bool / int16
//   Integer, Date, Time, YM interval   int32
//   BigInt, Timestamp, DT interval     int64
//   Float / Decimal                    double / int64 scaled by 10000
// A fixed-length bytes value of declared length 1, 2, 4 or 8 can also be read
// and written through the numeric raw access of that width.
//
// Conversion failures raise EBRNException 1011. The getters never change the
// value and read a NULL value as the zero of its type; every setter makes the
// value non-NULL before it stores (a failing setter leaves it non-NULL with
// its previous data), unless the subclass's raw setters make it non-NULL as
// part of their store (see BeginSetting). Decimals are rounded half away
// from zero to the scale whenever they are set.
//
// Threads: the const operations (the getters, Compare, CompareConverting,
// SaveToStream, GetAsVariant, GetAsFieldBuffer, and Assign's reads of its
// source) write nothing, neither to the value nor to a buffer it keeps: any
// number of threads may call them on one value at once, as long as no thread
// changes that value meanwhile. A subclass keeps to this in its overrides.
// Everything else needs the value to itself.
class TBRNValue {
 public:
  TBRNValue() = default;
  TBRNValue(const TBRNValue&) = delete;
  TBRNValue& operator=(const TBRNValue&) = delete;
  virtual ~TBRNValue() = default;

  // Descriptor.
  TBRNDataTypeCode GetDataType() const { return DataType; }
  TBRNDataSubType GetSubType() const { return SubType; }
  int32_t GetScale() const { return Scale; }
  int32_t GetCollation() const { return Collation; }

  // Error 1011. With IncludeText clear, Text names the value; with it set,
  // the value's current text is named and Text is the offending datum.
  [[noreturn]] virtual void RaiseTruncationError(std::string_view Text, bool IncludeText) const;
  [[noreturn]] virtual void RaiseOutOfRangeError(std::string_view Text, bool IncludeText) const;
  [[noreturn]] virtual void RaiseConversionError(std::string_view Text, bool IncludeText) const;
  // The details in parentheses of those messages, for every raiser of them.
  static std::string TruncationDetail(std::string_view Text, bool IncludeText);
  std::string OutOfRangeDetail(std::string_view Text, bool IncludeText) const;
  static std::string ConversionDetail(std::string_view Text, bool IncludeText);
  virtual void SetDataType(TBRNDataTypeCode Code);
  virtual void SetDataSubType(TBRNDataSubType NewSubType);
  virtual void SetScale(int32_t NewScale);
  virtual void SetCollation(int32_t NewCollation);

  // Raw access.
  virtual bool GetNull() const = 0;
  // Sets only the flag; SetNull also clears the data.
  virtual void SetNullFlag(bool Value) = 0;
  virtual int32_t GetDataSize() const = 0;
  virtual void SetDataSize(int32_t Size) = 0;
  // Characters or bytes of the current data (the declared length of a
  // fixed-length value); 0 for the other types.
  virtual int32_t GetLength() const = 0;
  virtual void SetLength(int32_t Length) = 0;
  // The data of a LOB as a stream, for reading only (nullptr where the data
  // is not kept in a stream); SetStreamData and the other setters change it.
  virtual const TBRNMemoryStream* GetStreamData() const = 0;
  virtual void GetStringData(std::string& Text) const = 0;
  // The characters in place and their count (nullptr and 0 for other types).
  virtual const char* GetStringBuffer(int32_t& Length) const = 0;
  virtual void GetBytesData(TBRNBytes& Bytes) const = 0;
  virtual const uint8_t* GetBytesBuffer(int32_t& Length) const = 0;
  virtual bool GetBooleanData() const = 0;
  virtual int16_t GetSmallIntData() const = 0;
  virtual int32_t GetInt32Data() const = 0;
  virtual int64_t GetInt64Data() const = 0;
  virtual int64_t GetDecimalData() const = 0;
  virtual double GetFloatData() const = 0;
  virtual void SetStringData(std::string_view Text) = 0;
  virtual void SetBytesData(std::span<const uint8_t> Bytes) = 0;
  // The LOB becomes Count bytes long, filled from Source's position (no
  // source: only the size changes).
  virtual void SetStreamData(TBRNStream* Source, int32_t Count) = 0;
  virtual void SetBooleanData(bool Value) = 0;
  virtual void SetSmallIntData(int16_t Value) = 0;
  virtual void SetInt32Data(int32_t Value) = 0;
  virtual void SetInt64Data(int64_t Value) = 0;
  virtual void SetDecimalData(int64_t Value) = 0;
  virtual void SetFloatData(double Value) = 0;

  // The size of the instance; subclasses add the data they hold.
  virtual int32_t GetMemorySize() const;
  // The zero of the type (empty text or bytes, false, 0); NULL is untouched.
  virtual void Clear();
  // Copies the NULL state and the data, converting between types.
  virtual void Assign(const TBRNValue& Source);
  // -1, 0 or 1. NULL sorts first and equals NULL. The collation comes from
  // the caller; PartialLength n > 0 compares only the first n characters.
  virtual int32_t Compare(const TBRNValue& Other, int32_t PartialLength, bool IgnoreCase,
                          int32_t Collation) const;
  // Stream form: a NULL flag byte (1 = NULL), then the data of a non-NULL
  // value. Descriptors are not part of it: the reader's type decides.
  virtual void SaveToStream(TBRNMemoryStream& Stream) const;
  virtual void LoadFromStream(TBRNMemoryStream& Stream);

  void SetNull(bool Null);
  // Character or CLOB data, read as text.
  bool IsTextType() const;

  // Converting getters.
  std::string GetAsString() const;
  TBRNBytes GetAsBytes() const;
  const TBRNMemoryStream* GetAsStream() const;
  bool GetAsBoolean() const;
  int16_t GetAsSmallInt() const;
  int32_t GetAsInteger() const;
  int64_t GetAsBigInt() const;
  int64_t GetAsDecimal() const;  // scaled by 10000
  double GetAsFloat() const;
  int32_t GetAsDate() const;       // day number
  int32_t GetAsTime() const;       // milliseconds since midnight
  int64_t GetAsTimestamp() const;  // milliseconds
  TDateTime GetAsDateTime() const;
  int32_t GetAsYearMonthInterval() const;  // months
  int64_t GetAsDayTimeInterval() const;    // milliseconds
  int32_t GetAsQualifiedYearMonthInterval(TBRNIntervalFields Qualifier) const;
  int64_t GetAsQualifiedDayTimeInterval(TBRNIntervalFields Qualifier) const;
  // A single-field interval as a count of its field's unit.
  int32_t GetYearMonthIntervalNumber() const;
  int64_t GetDayTimeIntervalNumber() const;

  // Converting setters.
  void SetAsString(std::string_view Value);
  void SetAsBytes(std::span<const uint8_t> Value);
  void SetAsBoolean(bool Value);
  void SetAsSmallInt(int16_t Value);
  void SetAsInteger(int32_t Value);
  void SetAsBigInt(int64_t Value);
  void SetAsDecimal(int64_t Value);
  void SetAsFloat(double Value);
  void SetAsDate(int32_t Day);
  void SetAsTime(int32_t Time);
  void SetAsTimestamp(int64_t TS);
  void SetAsDateTime(TDateTime DateTime);
  void SetAsYearMonthInterval(int32_t Months);
  void SetAsDayTimeInterval(int64_t MS);
  void SetAsQualifiedYearMonthInterval(int32_t Months, TBRNIntervalFields Qualifier);
  void SetAsQualifiedDayTimeInterval(TBRNIntervalFields Qualifier, int64_t MS);
  void SetYearMonthIntervalNumber(int32_t Number);
  void SetDayTimeIntervalNumber(int64_t Number);

  // Assignment from a value of another type.
  void AssignConverting(const TBRNValue& Source);
  // Comparison with a value of another type: the other side is converted to
  // this value's type (integers compare only with numeric types and Booleans).
  int32_t CompareConverting(const TBRNValue& Other, int32_t PartialLength, bool IgnoreCase,
                            int32_t Collation) const;

  // Exchange with the platform's Variant.
  void GetAsVariant(TVariant& V) const;
  void SetAsVariant(const TVariant& V);
  static bool VariantIsArray(const TVariant& V);

  // Exchange with the native record buffers of the dataset components; the
  // caller's buffer is large enough for the type. Returns whether the value
  // is not NULL (nothing is written for NULL or without a buffer).
  bool GetAsFieldBuffer(void* Buffer, bool DatasetFormat) const;
  // No buffer makes the value NULL.
  void SetAsFieldBuffer(const void* Buffer, bool DatasetFormat);

 protected:
  // The first step of every converting setter and of Assign from a non-NULL
  // source: the value becomes non-NULL before the conversion, so a setter
  // that fails leaves it non-NULL. A subclass whose raw setters make the
  // value non-NULL as the last step of their store overrides this with
  // nothing: a failing setter then leaves that value exactly as it was.
  virtual void BeginSetting() { SetNullFlag(false); }
  // Whether the value is a fixed-length bytes value of that declared length,
  // whose bytes are read and written raw as a number of that width.
  bool IsRawBytes(int32_t Width) const;
  // A Decimal rounded to this value's scale (raises the range error).
  int64_t RoundToScale(int64_t Scaled) const;
  // The raisers above, for callers that must not continue: an override
  // that returns is a programming error (std::logic_error).
  [[noreturn]] void FailConversion(std::string_view Text, bool IncludeText) const;
  [[noreturn]] void FailRange(std::string_view Text, bool IncludeText) const;
  // The characters in place (empty for other types).
  std::string_view TextView() const;
  // The value's text for messages; empty where it has none.
  std::string MessageText() const;

  // The same-type parts of Compare, SaveToStream and LoadFromStream for a
  // value of static type V (this class or a subclass). A subclass whose raw
  // access is final instantiates them for itself, which turns the raw calls
  // into direct ones; the definitions are in value_same_type.h, included
  // only by the sources that instantiate them. CompareSameType needs both
  // values non-NULL and of the same DataType; SaveDataToStream and
  // LoadDataFromStream move the data that follows the NULL flag.
  template <typename V>
  static int32_t CompareSameType(const V& Value, const V& Other, int32_t PartialLength,
                                 bool IgnoreCase, int32_t Collation);
  template <typename V>
  static void SaveDataToStream(const V& Value, TBRNMemoryStream& Stream);
  template <typename V>
  static void LoadDataFromStream(V& Value, TBRNMemoryStream& Stream);

  TBRNDataTypeCode DataType = dtNull;
  TBRNDataSubType SubType = stDefault;
  int32_t Scale = 0;
  int32_t Collation = 0;

 private:
  friend class TBRNContainedValue;
  // true only in a TBRNContainedValue (its constructor sets it): lets one
  // contained value reach another's data without a virtual call.
  bool IsContained = false;
};

}  // namespace brn
