#pragma once

#include <cstdint>

#include "foundation/core/memory_stream.h"
#include "foundation/values/value.h"

namespace brn {

// A value that owns its data in a private memory stream. Layout of the
// stream by type:
//   Char / Bytes, variable     int32 count, then the characters or bytes
//   Char / Bytes, fixed, GUID  exactly the declared length (blank / zero
//                              padded)
//   BLOB, CLOB                 the data itself; the length is the size
//   the other types            the little-endian datum at offset 0
// The buffer may be larger than its data. Reads past its end give zeros.
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

  bool GetNull() const override { return NullFlag; }
  void SetNullFlag(bool Value) override { NullFlag = Value; }
  int32_t GetDataSize() const override;
  void SetDataSize(int32_t Size) override;
  int32_t GetLength() const override;
  void SetLength(int32_t Length) override;
  // Records the declared length without sizing the buffer: the setters grow
  // it when data arrives. Loaders of untrusted streams use it so that a
  // declared length alone never allocates.
  void SetDeclaredLengthOnly(int32_t Length);
  TBRNMemoryStream* GetStreamData() const override { return &Stream; }
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

 protected:
  bool NullFlag = true;
  int32_t DeclaredLength = 0;
  bool RaiseOnTruncation = true;
  // The data, held inside the value itself so that a comparison reaches it
  // without another indirection. GetStreamData hands it out for writing.
  mutable TBRNMemoryStream Stream;

  bool IsVariableText() const;
  bool IsFixedText() const;

 private:
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
  TBRNMemoryStream* GetStreamData() const override;
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
