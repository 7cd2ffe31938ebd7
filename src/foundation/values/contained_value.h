#pragma once

#include <cstdint>

#include "foundation/core/memory_stream.h"
#include "foundation/values/value.h"

namespace brn {

// A value that owns its data. Text, bytes and LOBs live in a private memory
// stream:
//   Char / Bytes, variable     int32 count, then the characters or bytes
//   Char / Bytes, fixed, GUID  exactly the declared length (blank / zero
//                              padded)
//   BLOB, CLOB                 the data itself; the length is the size
// The stream may be larger than its data. The datum of the other types
// (Boolean up to the intervals, 8 bytes at most) is kept little-endian inside
// the value itself, so that such a value allocates nothing; its data size is
// at most 8. Reads past the end of the data give zeros.
//
// The raw access is final: subclasses (parameters, CAST results and the
// like) change the descriptor rules and the errors, never where the data
// lives, which lets Compare and the stream form reach the data directly.
// Threads: as TBRNValue (const operations write nothing).
class TBRNContainedValue : public TBRNValue {
 public:
  TBRNContainedValue();
  ~TBRNContainedValue() override;

  // Whether variable text and bytes are held to the declared length:
  // subclasses such as parameters answer true.
  virtual bool EnforcesDeclaredLength() const { return false; }
  // The declared length when it is enforced, else 0.
  int32_t GetDeclaredLength() const;
  // Adds the 4-byte count of a variable Char or Bytes value to Size.
  void AddLengthPrefix(int32_t& Size) const;

  bool GetRaiseOnTruncation() const { return RaiseOnTruncation; }
  // Cleared by owners that want too-long data cut silently.
  void SetRaiseOnTruncation(bool Value) { RaiseOnTruncation = Value; }

  void SetDataType(TBRNDataTypeCode Code) override;
  void SetDataSubType(TBRNDataSubType NewSubType) override;
  void SetScale(int32_t NewScale) override;
  void SetCollation(int32_t NewCollation) override;

  bool GetNull() const final { return NullFlag; }
  void SetNullFlag(bool Value) final { NullFlag = Value; }
  int32_t GetDataSize() const final;
  // A negative size throws std::invalid_argument.
  void SetDataSize(int32_t Size) final;
  int32_t GetLength() const final;
  // Sets the declared length. A fixed Char or Bytes value takes exactly
  // that many characters or bytes (callers bound it); a variable one keeps
  // only its count and the data it holds (cut to the new length), so that a
  // declared length allocates nothing; a LOB's data takes that size.
  void SetLength(int32_t Length) final;
  // Records the declared length without sizing the buffer: the setters grow
  // it when data arrives. Loaders of untrusted streams use it so that a
  // declared length alone never allocates.
  void SetDeclaredLengthOnly(int32_t Length);
  // The stream of text, bytes and LOB data (empty for the other types).
  const TBRNMemoryStream* GetStreamData() const final { return &Stream; }
  void GetStringData(std::string& Text) const final;
  const char* GetStringBuffer(int32_t& Length) const final;
  void GetBytesData(TBRNBytes& Bytes) const final;
  const uint8_t* GetBytesBuffer(int32_t& Length) const final;
  bool GetBooleanData() const final;
  int16_t GetSmallIntData() const final;
  int32_t GetInt32Data() const final;
  int64_t GetInt64Data() const final;
  int64_t GetDecimalData() const final;
  double GetFloatData() const final;
  void SetStringData(std::string_view Text) final;
  void SetBytesData(std::span<const uint8_t> Bytes) final;
  void SetStreamData(TBRNStream* Source, int32_t Count) final;
  void SetBooleanData(bool Value) final;
  void SetSmallIntData(int16_t Value) final;
  void SetInt32Data(int32_t Value) final;
  void SetInt64Data(int64_t Value) final;
  void SetDecimalData(int64_t Value) final;
  void SetFloatData(double Value) final;
  int32_t GetMemorySize() const override;
  // As TBRNValue's, reaching the data of another contained value directly.
  int32_t Compare(const TBRNValue& Other, int32_t PartialLength, bool IgnoreCase,
                  int32_t Collation) const override;
  void SaveToStream(TBRNMemoryStream& Stream) const override;
  void LoadFromStream(TBRNMemoryStream& Stream) override;

 protected:
  bool IsVariableText() const;
  bool IsFixedText() const;

  // The fields, in this order so that the flags and the inline datum follow
  // the base's descriptor in the same cache line.
  bool NullFlag = true;
  bool RaiseOnTruncation = true;

 private:
  // Bytes of InlineData in use (0..8); the bytes from there on are zero.
  uint8_t InlineSize = 0;

 protected:
  int32_t DeclaredLength = 0;

 private:
  // The datum of the types IsInlineType names, little-endian from byte 0.
  alignas(8) uint8_t InlineData[8] = {};

 protected:
  // Text, bytes and LOB data, held inside the value itself so that a
  // comparison reaches it without another indirection.
  TBRNMemoryStream Stream;

 private:
  // Types whose datum lives in InlineData rather than in Stream.
  static bool IsInlineType(TBRNDataTypeCode Code) {
    return Code >= dtBoolean && Code <= dtDayTimeInterval;
  }
  // Empties the storage the new type does not use when a type change moves
  // the data between Stream and InlineData (the data is not carried over).
  void SwitchStorage(TBRNDataTypeCode OldType);

  template <typename T>
  T ReadRaw() const;
  template <typename T>
  void WriteRaw(T value);
  void WritePrefixedData(const void* data, int32_t count);
  // Text, bytes and LOB data alike.
  void StoreData(std::span<const uint8_t> Bytes);
};

// A value that owns no data: every raw access goes to the value a subclass
// names. The subclass copies the referenced value's descriptor into this
// value's own, so that the conversions interpret the forwarded data right.
class TBRNReferenceValue : public TBRNValue {
 public:
  // The value that receives every raw access (never nullptr while used).
  virtual TBRNValue* GetReferencedValue() const = 0;

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
};

}  // namespace brn
