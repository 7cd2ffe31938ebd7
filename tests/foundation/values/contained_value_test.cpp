#include <gtest/gtest.h>

#include <cstddef>
#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/types/literal_text.h"
#include "foundation/value_test_support.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::MakeValue;
using testing::Outcome;
using testing::StreamHex;

// A value held to its declared length, as parameters and CAST results are.
class EnforcingValue : public TBRNContainedValue {
 public:
  bool EnforcesDeclaredLength() const override { return true; }
};

std::unique_ptr<EnforcingValue> MakeEnforcing(TBRNDataTypeCode type, int32_t length) {
  auto value = std::make_unique<EnforcingValue>();
  value->SetDataType(type);
  value->SetLength(length);
  return value;
}

TEST(ContainedValue, StartsNullAndBecomesTheEmptyStringOfItsType) {
  TBRNContainedValue value;
  EXPECT_TRUE(value.GetNull());
  EXPECT_EQ(value.GetDataType(), dtNull);
  value.SetDataType(dtChar);
  EXPECT_EQ(value.GetDataSize(), 4);  // the count 0
  EXPECT_EQ(value.GetAsString(), "");
  EXPECT_EQ(value.GetDeclaredLength(), 0);
}

TEST(ContainedValue, DeclaredLengthOfVariableText) {
  struct Case {
    bool Enforcing;
    bool RaiseOnTruncation;
    const char* Text;
    const char* Expected;
  };
  const Case cases[] = {
      {false, true, "abcdefgh", "abcdefgh"}, {true, true, "abcdefgh", "T!"},
      {true, true, "abc        ", "abc  "},  {true, false, "abcdefgh", "abcde"},
      {true, true, "abcde", "abcde"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<TBRNContainedValue> value =
        c.Enforcing ? MakeEnforcing(dtChar, 5) : MakeValue(dtChar, 0, 5);
    value->SetRaiseOnTruncation(c.RaiseOnTruncation);
    EXPECT_EQ(Outcome([&] {
                value->SetAsString(c.Text);
                return value->GetAsString();
              }),
              c.Expected)
        << "'" << c.Text << "' enforcing " << c.Enforcing;
  }
  auto enforced = MakeEnforcing(dtChar, 5);
  EXPECT_EQ(enforced->GetDeclaredLength(), 5);
  // Bytes are held to the length the same way, and named in hex.
  auto bytes = MakeEnforcing(dtBytes, 2);
  EBRNException e = CaughtError([&] { bytes->SetAsString("010203"); });
  EXPECT_NE(e.ErrorMessage.find("The value 010203 would result in truncation"), std::string::npos)
      << e.ErrorMessage;
}

TEST(ContainedValue, FixedLengthAndGuidBuffers) {
  auto fixed = MakeValue(dtChar, stFixed, 5, 0, "ab");
  EXPECT_EQ(fixed->GetAsString(), "ab   ");
  EXPECT_EQ(fixed->GetLength(), 5);
  fixed->SetAsString("abcdefg");
  EXPECT_EQ(fixed->GetAsString(), "abcde");
  TBRNContainedValue guid;
  guid.SetDataType(dtChar);
  guid.SetDataSubType(stGuid);
  EXPECT_EQ(guid.GetLength(), 38);
  EXPECT_EQ(guid.GetDataSize(), 38);
  TBRNContainedValue guidBytes;
  guidBytes.SetDataType(dtBytes);
  guidBytes.SetDataSubType(stGuid);
  EXPECT_EQ(guidBytes.GetLength(), 16);
  auto fixedBytes = MakeValue(dtBytes, stFixed, 4, 0, "01");
  EXPECT_EQ(fixedBytes->GetAsString(), "01000000");
}

TEST(ContainedValue, LengthsByType) {
  EXPECT_EQ(MakeValue(dtChar, 0, 10, 0, "abc")->GetLength(), 3);
  EXPECT_EQ(MakeValue(dtLob, 0, 0, 0, "00112233445566778899")->GetLength(), 10);
  EXPECT_EQ(MakeValue(dtInteger, 0, 0, 0, "12345")->GetLength(), 0);
  EXPECT_EQ(MakeValue(dtInteger)->GetDataSize(), 4);
  EXPECT_EQ(MakeValue(dtChar, 0, 10)->GetDataSize(), 4);  // the count; the length is a limit
  EXPECT_EQ(MakeValue(dtChar, stFixed, 10)->GetDataSize(), 10);
  // A new type sizes the buffer for its own length, not the old type's.
  auto retyped = MakeValue(dtChar, 0, 10, 0, "abc");
  retyped->SetDataType(dtInteger);
  EXPECT_EQ(retyped->GetDataSize(), 4);
}

// A variable value is sized by what it holds: a declared length from
// statement text, up to the largest int32, is a limit and takes no memory.
TEST(ContainedValue, DeclaredLengthsOfVariableValuesAllocateNothing) {
  struct Case {
    TBRNDataTypeCode Type;
    int32_t Length;
    bool Enforcing;
    const char* Text;
    const char* Held;
  };
  const Case cases[] = {
      {dtChar, INT32_MAX, false, "abc", "abc"},
      {dtChar, INT32_MAX - 3, true, "abc", "abc"},
      {dtChar, 1000000000, true, "", ""},
      {dtChar, 3, true, "abcdef", "abc"},
      {dtBytes, INT32_MAX, false, "0a0b", "0A0B"},
      {dtBytes, 2, true, "0a0b0c", "0A0B"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<TBRNContainedValue> value;
    if (c.Enforcing) {
      auto enforcing = MakeEnforcing(c.Type, c.Length);
      enforcing->SetRaiseOnTruncation(false);
      value = std::move(enforcing);
    } else {
      value = MakeValue(c.Type, 0, c.Length);
    }
    EXPECT_LE(value->GetStreamData()->GetCapacity(), 64) << c.Length;
    value->SetAsString(c.Text);
    EXPECT_EQ(value->GetAsString(), c.Held) << c.Length;
    EXPECT_LE(value->GetMemorySize(), 256) << c.Length;
    EXPECT_EQ(value->GetDeclaredLength(), c.Enforcing ? c.Length : 0) << c.Length;
  }
  // A shorter declared length cuts what the value holds; a longer one keeps it.
  auto value = MakeValue(dtChar, 0, 10, 0, "abcdef");
  value->SetLength(1000000);
  EXPECT_EQ(value->GetAsString(), "abcdef");
  value->SetLength(2);
  EXPECT_EQ(value->GetAsString(), "ab");
  EXPECT_EQ(value->GetDataSize(), 6);
}

TEST(ContainedValue, ClearKeepsNullAndSetNullClears) {
  auto value = MakeValue(dtChar, 0, 0, 0, "abc");
  value->SetNull(true);
  EXPECT_TRUE(value->GetNull());
  EXPECT_EQ(value->GetAsString(), "");
  auto number = MakeValue(dtFloat, 0, 0, 0, "2.5");
  number->Clear();
  EXPECT_FALSE(number->GetNull());
  EXPECT_EQ(number->GetAsFloat(), 0.0);
}

// Raw reads beyond a short buffer give zero, never memory beyond it.
TEST(ContainedValue, ShortBuffersReadAsZero) {
  auto value = MakeValue(dtBigInt);
  value->SetDataSize(2);
  EXPECT_EQ(value->GetInt64Data(), 0);
  auto text = MakeValue(dtChar, 0, 0, 0, "abcdef");
  text->SetDataSize(6);  // the count says 6, the buffer holds 2 of them
  EXPECT_EQ(text->GetAsString(), "ab");
}

// The datum of the fixed-size types lives inside the value: setting,
// assigning and loading one allocate no data buffer.
TEST(ContainedValue, FixedSizeDataNeedsNoBuffer) {
  struct Case {
    TBRNDataTypeCode Type;
    TBRNDataSubType SubType;
    const char* Text;
    int32_t DataSize;
  };
  const Case cases[] = {
      {dtBoolean, 0, "TRUE", 1},
      {dtSmallInt, 0, "-12", 2},
      {dtInteger, 0, "2147483647", 4},
      {dtBigInt, 0, "-9223372036854775808", 8},
      {dtFloat, 0, "2.5", 8},
      {dtDecimal, 0, "12.34", 8},
      {dtDate, 0, "2024-02-29", 4},
      {dtTime, 0, "23:59:59.999", 4},
      {dtTimestamp, 0, "2024-02-29 12:00", 8},
      {dtYearMonthInterval, ifYear | ifMonth, "3-11", 4},
      {dtDayTimeInterval, ifDay | ifHour, "2 5", 8},
  };
  for (const Case& c : cases) {
    auto value = MakeValue(c.Type, c.SubType, 0, 2, c.Text);
    auto copy = MakeValue(c.Type, c.SubType, 0, 2);
    copy->Assign(*value);
    auto loaded = MakeValue(c.Type, c.SubType, 0, 2);
    TBRNMemoryStream stream;
    value->SaveToStream(stream);
    stream.SetPosition(0);
    loaded->LoadFromStream(stream);
    for (const TBRNContainedValue* v : {value.get(), copy.get(), loaded.get()}) {
      EXPECT_EQ(v->GetAsString(), c.Text) << c.Text;
      EXPECT_EQ(v->GetDataSize(), c.DataSize) << c.Text;
      EXPECT_EQ(v->GetStreamData()->GetCapacity(), 0) << c.Text;
      EXPECT_EQ(v->GetMemorySize(), int32_t(sizeof(TBRNContainedValue))) << c.Text;
    }
    EXPECT_EQ(value->Compare(*loaded, 0, false, 0), 0) << c.Text;
  }
  // A text value retyped as a number gives its text buffer up.
  auto retyped = MakeValue(dtChar, 0, 10, 0, "abc");
  retyped->SetDataType(dtInteger);
  retyped->SetAsInteger(7);
  EXPECT_EQ(retyped->GetStreamData()->GetCapacity(), 0);
  EXPECT_EQ(retyped->GetAsInteger(), 7);
  // A datum cut short and grown again reads the cut bytes as zeros.
  auto big = MakeValue(dtBigInt, 0, 0, 0, "1234605616436508552");  // 0x1122334455667788
  big->SetDataSize(4);
  big->SetDataSize(8);
  EXPECT_EQ(big->GetInt64Data(), 0x55667788);
  EXPECT_THROW(big->SetDataSize(-1), std::invalid_argument);
}

class ForwardingValue : public TBRNReferenceValue {
 public:
  explicit ForwardingValue(TBRNValue& target) : Target(target) {
    SetDataType(target.GetDataType());
    SetDataSubType(target.GetSubType());
    SetScale(target.GetScale());
  }
  TBRNValue* GetReferencedValue() const override { return &Target; }

 private:
  TBRNValue& Target;
};

// A value that offers characters only through the character access and
// bytes only through the byte access, as a value living in a row image may.
class StrictForwardingValue : public ForwardingValue {
 public:
  using ForwardingValue::ForwardingValue;
  const char* GetStringBuffer(int32_t& Length) const override {
    if (!IsTextType()) return Refuse(Length);
    return ForwardingValue::GetStringBuffer(Length);
  }
  const uint8_t* GetBytesBuffer(int32_t& Length) const override {
    if (IsTextType()) return Refuse(Length);
    return ForwardingValue::GetBytesBuffer(Length);
  }

 private:
  static std::nullptr_t Refuse(int32_t& Length) {
    Length = 0;
    return nullptr;
  }
};

TEST(ReferenceValue, TextAndBytesAreReadThroughTheirOwnAccess) {
  auto text = MakeValue(dtChar, 0, 0, 0, "ab");
  StrictForwardingValue textReference(*text);
  EXPECT_EQ(FormatBytesLiteral(textReference.GetAsBytes()), "6162");
  TBRNMemoryStream stream;
  textReference.SaveToStream(stream);
  EXPECT_EQ(StreamHex(stream), "00020000006162");
  auto clob = MakeValue(dtLob, stClob, 0, 0, "xyz");
  StrictForwardingValue clobReference(*clob);
  EXPECT_EQ(FormatBytesLiteral(clobReference.GetAsBytes()), "78797A");
  // A BLOB assigned to a Char value gives its bytes as characters.
  auto blob = MakeValue(dtLob, 0, 0, 0, "414243");
  StrictForwardingValue blobReference(*blob);
  auto chars = MakeValue(dtChar);
  chars->Assign(blobReference);
  EXPECT_EQ(chars->GetAsString(), "ABC");
}

TEST(ReferenceValue, ForwardsEveryAccess) {
  auto target = MakeValue(dtDecimal, 0, 0, 2);
  ForwardingValue reference(*target);
  EXPECT_TRUE(reference.GetNull());
  reference.SetAsString("1.256");
  EXPECT_FALSE(target->GetNull());
  EXPECT_EQ(target->GetDecimalData(), 12600);
  EXPECT_EQ(reference.GetDecimalData(), 12600);
  EXPECT_EQ(reference.Compare(*target, 0, false, 0), 0);
  TBRNMemoryStream stream;
  reference.SaveToStream(stream);
  EXPECT_EQ(stream.GetSize(), 9);
  auto text = MakeValue(dtChar, 0, 0, 0, "abc");
  ForwardingValue textReference(*text);
  int32_t length = 0;
  EXPECT_EQ(textReference.GetStringBuffer(length), text->GetStringBuffer(length));
  EXPECT_EQ(length, 3);
}

// A contained value reaches another contained value's data directly; against
// a reference value it takes the general path, with the same results.
TEST(ReferenceValue, ComparesWithContainedValuesBothWays) {
  struct Case {
    TBRNDataTypeCode Type;
    const char* Text;  // nullptr: NULL
    int32_t Expected;  // the Integer 5 (through a reference) against it
  };
  const Case cases[] = {
      {dtInteger, "6", -1},  {dtInteger, "5", 0}, {dtInteger, nullptr, 1},
      {dtDecimal, "4.5", 1}, {dtChar, "5", 0},    {dtBigInt, "5", 0},
  };
  auto five = MakeValue(dtInteger, 0, 0, 0, "5");
  ForwardingValue reference(*five);
  for (const Case& c : cases) {
    auto other = c.Text ? MakeValue(c.Type, 0, 0, 2, c.Text) : MakeValue(c.Type, 0, 0, 2);
    EXPECT_EQ(reference.Compare(*other, 0, false, 0), c.Expected) << c.Type;
    EXPECT_EQ(five->Compare(*other, 0, false, 0), c.Expected) << c.Type;
    if (c.Type != dtChar) {
      EXPECT_EQ(other->Compare(reference, 0, false, 0), -c.Expected) << c.Type;
    }
  }
  auto nullFive = MakeValue(dtInteger);
  ForwardingValue nullReference(*nullFive);
  EXPECT_EQ(nullFive->Compare(nullReference, 0, false, 0), 0);
  EXPECT_EQ(five->Compare(nullReference, 0, false, 0), 1);
}

}  // namespace
}  // namespace brn
