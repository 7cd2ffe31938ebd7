#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "foundation/types/literal_text.h"
#include "foundation/core/memory_stream.h"
#include "platform/bcd.h"
#include "platform/variant.h"
#include "foundation/test_support.h"
#include "foundation/value_test_support.h"

namespace brn {
namespace {

using testing::MakeValue;
using testing::Outcome;
using testing::StreamHex;

struct Sample {
  TBRNDataTypeCode Type;
  TBRNDataSubType SubType;
  int32_t Length;
  int32_t Scale;
  const char* Text;
  const char* StreamForm;  // hex of the stream form, NULL flag first
};

// One value of every type and subtype.
const Sample kSamples[] = {
    {dtChar, 0, 10, 0, "ab", "00020000006162"},
    {dtChar, stFixed, 4, 0, "ab", "00040000006162 2020"},
    {dtBytes, 0, 10, 0, "01FF", "000200000001FF"},
    {dtBytes, stFixed, 3, 0, "01", "0003000000010000"},
    {dtLob, 0, 0, 0, "0A0B0C", "00030000000A0B0C"},
    {dtLob, stClob, 0, 0, "xyz", "0003000000 78797A"},
    {dtBoolean, 0, 0, 0, "TRUE", "0001"},
    {dtSmallInt, 0, 0, 0, "-2", "00FEFF"},
    {dtInteger, 0, 0, 0, "7", "0007000000"},
    {dtBigInt, 0, 0, 0, "-1", "00FFFFFFFFFFFFFFFF"},
    {dtFloat, 0, 0, 0, "7.5", "000000000000001E40"},
    {dtDecimal, 0, 0, 2, "1.25", "00D430000000000000"},
    {dtDate, 0, 0, 0, "2024-02-29", "0081460B00"},
    {dtTime, 0, 0, 0, "06:00", "0000974901"},
    {dtTimestamp, 0, 0, 0, "2024-02-29 06:00", "0000F3C50A113A0000"},
    {dtYearMonthInterval, ifYear | ifMonth, 0, 0, "1-02", "000E000000"},
    {dtDayTimeInterval, ifDay, 0, 0, "2", "0000B84C0A00000000"},
};

std::string WithoutBlanks(std::string text) {
  std::erase(text, ' ');
  return text;
}

TEST(ValueStream, StreamFormByteForByteAndRoundTrip) {
  for (const Sample& s : kSamples) {
    auto value = MakeValue(s.Type, s.SubType, s.Length, s.Scale, s.Text);
    TBRNMemoryStream stream;
    value->SaveToStream(stream);
    EXPECT_EQ(StreamHex(stream), WithoutBlanks(s.StreamForm)) << DataTypeName(s.Type, s.SubType);
    // Read back into a fresh value of the same descriptor, after a NULL
    // value that must not disturb the next one.
    auto null = MakeValue(s.Type, s.SubType, s.Length, s.Scale);
    null->SaveToStream(stream);
    stream.SetPosition(0);
    auto copy = MakeValue(s.Type, s.SubType, s.Length, s.Scale);
    copy->LoadFromStream(stream);
    EXPECT_FALSE(copy->GetNull());
    EXPECT_EQ(copy->Compare(*value, 0, false, 0), 0) << DataTypeName(s.Type, s.SubType);
    EXPECT_EQ(copy->GetAsString(), value->GetAsString());
    copy->LoadFromStream(stream);
    EXPECT_TRUE(copy->GetNull()) << DataTypeName(s.Type, s.SubType);
    EXPECT_EQ(stream.GetRemaining(), 0);
  }
}

TEST(ValueStream, NullIsOneByteWhateverTheType) {
  for (const Sample& s : kSamples) {
    auto value = MakeValue(s.Type, s.SubType, s.Length, s.Scale);
    TBRNMemoryStream stream;
    value->SaveToStream(stream);
    EXPECT_EQ(StreamHex(stream), "01");
  }
}

TEST(ValueStream, LoadedDecimalIsRoundedToTheScale) {
  TBRNMemoryStream stream;
  stream.WriteBoolean(false);
  stream.WriteCurrency(12345);
  stream.SetPosition(0);
  auto value = MakeValue(dtDecimal, 0, 0, 2);
  value->LoadFromStream(stream);
  EXPECT_EQ(value->GetDecimalData(), 12300);
}

// A count read from a stream is checked against the bytes that remain: a
// damaged or hostile count raises the conversion error and allocates
// nothing.
TEST(ValueStream, CountsBeyondTheRemainingBytesAreRefused) {
  struct Case {
    TBRNDataTypeCode Type;
    TBRNDataSubType SubType;
    int32_t Count;
    int32_t Following;  // bytes after the count
    const char* Expected;
  };
  const Case cases[] = {
      {dtChar, 0, 0x7FFFFFFF, 4, "E!"},  {dtChar, 0, 5, 4, "E!"},
      {dtChar, 0, -1, 4, "E!"},          {dtChar, 0, 4, 4, "ok"},
      {dtBytes, 0, 0x40000000, 0, "E!"}, {dtBytes, stFixed, 3, 2, "E!"},
      {dtLob, 0, 0x7FFFFFF0, 16, "E!"},  {dtLob, 0, -5, 0, "ok"},  // an empty LOB
      {dtLob, stClob, 16, 16, "ok"},
  };
  for (const Case& c : cases) {
    TBRNMemoryStream stream;
    stream.WriteBoolean(false);
    stream.WriteInteger(c.Count);
    for (int32_t i = 0; i < c.Following; ++i) stream.WriteByte('a');
    stream.SetPosition(0);
    auto value = MakeValue(c.Type, c.SubType, 3);
    EXPECT_EQ(Outcome([&] {
                value->LoadFromStream(stream);
                return std::string("ok");
              }),
              c.Expected)
        << DataTypeName(c.Type, c.SubType) << " count " << c.Count;
    EXPECT_LE(value->GetDataSize(), 64);
  }
}

TEST(ValueStream, TruncatedFixedWidthDataReadsAsZero) {
  TBRNMemoryStream stream;
  stream.WriteBoolean(false);
  stream.WriteByte(7);
  stream.SetPosition(0);
  auto value = MakeValue(dtInteger, 0, 0, 0, "99");
  value->LoadFromStream(stream);
  EXPECT_FALSE(value->GetNull());
  EXPECT_EQ(value->GetAsInteger(), 0);
}

TEST(ValueVariant, VariantsOfEachType) {
  struct Case {
    TBRNDataTypeCode Type;
    TBRNDataSubType SubType;
    const char* Text;
    TVarType Expected;
  };
  const Case cases[] = {
      {dtChar, 0, "abc", varString},
      {dtLob, stClob, "abc", varString},
      {dtBytes, 0, "0102", varArray | varByte},
      {dtLob, 0, "0102", varArray | varByte},
      {dtBoolean, 0, "TRUE", varBoolean},
      {dtSmallInt, 0, "5", varSmallint},
      {dtInteger, 0, "5", varInteger},
      {dtYearMonthInterval, ifMonth, "5", varInteger},
      {dtBigInt, 0, "5", varInt64},
      {dtDayTimeInterval, ifMSecond, "5", varInt64},
      {dtFloat, 0, "5", varDouble},
      {dtDecimal, 0, "5", varCurrency},
      {dtDate, 0, "2024-02-29", varDate},
      {dtTime, 0, "06:00", varDate},
      {dtTimestamp, 0, "2024-02-29 06:00", varDate},
  };
  for (const Case& c : cases) {
    auto value = MakeValue(c.Type, c.SubType, 0, 0, c.Text);
    TVariant v;
    value->GetAsVariant(v);
    EXPECT_EQ(v.VType(), c.Expected) << DataTypeName(c.Type, c.SubType);
    // And back into a fresh value of the same type.
    auto copy = MakeValue(c.Type, c.SubType);
    copy->SetAsVariant(v);
    EXPECT_EQ(copy->GetAsString(), value->GetAsString()) << DataTypeName(c.Type, c.SubType);
    // A NULL value gives a Null Variant.
    value->SetNull(true);
    value->GetAsVariant(v);
    EXPECT_EQ(v.VType(), varNull);
  }
}

TEST(ValueVariant, PlatformDatesCountFromDecember30th1899) {
  auto date = MakeValue(dtDate, 0, 0, 0, "2024-02-29");
  TVariant v;
  date->GetAsVariant(v);
  EXPECT_EQ(v.AsDate(), 45351.0);
  auto before = MakeValue(dtTimestamp, 0, 0, 0, "1899-12-29 06:00");
  before->GetAsVariant(v);
  EXPECT_EQ(v.AsDate(), -1.25);
  auto back = MakeValue(dtTimestamp);
  back->SetAsVariant(TVariant::FromDate(-1.25));
  EXPECT_EQ(back->GetAsString(), "1899-12-29 06:00");
  back->SetAsVariant(TVariant::FromDate(-0.5));
  EXPECT_EQ(back->GetAsString(), "1899-12-30 12:00");
}

TEST(ValueVariant, SetAsVariantByVariantType) {
  struct Case {
    TBRNDataTypeCode Type;
    TBRNDataSubType SubType;
    TVariant V;
    const char* Expected;  // text of the value, "NULL" or an error
  };
  const Case cases[] = {
      {dtInteger, 0, TVariant(), "NULL"},
      {dtInteger, 0, TVariant::Null(), "NULL"},
      {dtInteger, 0, TVariant::FromByte(200), "200"},
      {dtBigInt, 0, TVariant::FromWord(65535), "65535"},
      {dtBigInt, 0, TVariant::FromLongWord(4294967295u), "4294967295"},
      {dtFloat, 0, TVariant::FromSingle(0.5f), "0.5"},
      {dtDecimal, 0, TVariant::FromCurrency(15000), "2"},  // rounded to scale 0
      {dtChar, 0, TVariant::FromOleStr(u"caf\u00e9 \u20ac"), "caf\xe9 \x80"},
      {dtBytes, 0, TVariant::FromOleStr(u"AB"), "41004200"},
      {dtLob, 0, TVariant::FromString("AB"), "4142"},
      {dtChar, 0, TVariant::FromStrArg(u"x"), "x"},
      {dtBoolean, 0, TVariant::FromInt64(2), "TRUE"},
      {dtBytes, 0, TVariant::FromByteArray({1, 2}), "0102"},
      {dtInteger, 0, TVariant::FromByteArray({1, 2}), "E!"},
      {dtInteger, 0, TVariant::FromShortInt(1), "E!"},
      {dtSmallInt, 0, TVariant::FromInteger(40000), "R!"},
  };
  for (const Case& c : cases) {
    auto value = MakeValue(c.Type, c.SubType, 0, 0);
    EXPECT_EQ(Outcome([&] {
                value->SetAsVariant(c.V);
                return value->GetNull() ? std::string("NULL") : value->GetAsString();
              }),
              c.Expected)
        << DataTypeName(c.Type, c.SubType) << " from Variant type " << c.V.VType();
  }
}

TEST(ValueFieldBuffer, NativeRecordBuffers) {
  struct Case {
    TBRNDataTypeCode Type;
    TBRNDataSubType SubType;
    int32_t Length;
    int32_t Scale;
    const char* Text;
    bool DatasetFormat;
    const char* Buffer;  // hex of the bytes written
  };
  const Case cases[] = {
      {dtChar, 0, 10, 0, "ab", false, "616200"},
      {dtBytes, 0, 10, 0, "0102", false, "02000102"},
      {dtBytes, stFixed, 3, 0, "0102", false, "010200"},
      {dtBoolean, 0, 0, 0, "TRUE", true, "FFFF"},
      {dtBoolean, 0, 0, 0, "TRUE", false, "01"},
      {dtSmallInt, 0, 0, 0, "-2", true, "FEFF"},
      {dtDate, 0, 0, 0, "2024-02-29", true, "81460B00"},
      {dtDayTimeInterval, ifDay, 0, 0, "2", true, "00B84C0A00000000"},
      {dtFloat, 0, 0, 0, "7.5", true, "0000000000001E40"},
      {dtDecimal, 0, 0, 2, "-1.25", false, "2CCFFFFFFFFFFFFF"},
      // Precision 32, scale 2, sign bit; 32 digits ending in 125.
      {dtDecimal, 0, 0, 2, "-1.25", true,
       "2082"
       "00000000000000000000000000000125"
       "00000000000000000000000000000000"},
      {dtTimestamp, 0, 0, 0, "2024-02-29 06:00", true, "0080F9628508CD42"},
      {dtTimestamp, 0, 0, 0, "2024-02-29 06:00", false, "00F3C50A113A0000"},
  };
  for (const Case& c : cases) {
    auto value = MakeValue(c.Type, c.SubType, c.Length, c.Scale, c.Text);
    uint8_t buffer[64];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_TRUE(value->GetAsFieldBuffer(buffer, c.DatasetFormat));
    std::string expected = c.Buffer;
    EXPECT_EQ(FormatBytesLiteral(std::span(buffer, expected.size() / 2)), expected)
        << DataTypeName(c.Type, c.SubType);
    EXPECT_EQ(buffer[expected.size() / 2], 0xEE)
        << "wrote too much for " << DataTypeName(c.Type, c.SubType);
    auto copy = MakeValue(c.Type, c.SubType, c.Length, c.Scale);
    copy->SetAsFieldBuffer(buffer, c.DatasetFormat);
    EXPECT_EQ(copy->GetAsString(), value->GetAsString()) << DataTypeName(c.Type, c.SubType);
  }
}

TEST(ValueFieldBuffer, NullAndMalformedBuffers) {
  auto value = MakeValue(dtInteger, 0, 0, 0, "5");
  uint8_t buffer[40] = {};
  value->SetNull(true);
  EXPECT_FALSE(value->GetAsFieldBuffer(buffer, true));
  EXPECT_EQ(buffer[0], 0);
  value->SetAsFieldBuffer(buffer, true);
  EXPECT_FALSE(value->GetNull());
  value->SetAsFieldBuffer(nullptr, true);
  EXPECT_TRUE(value->GetNull());
  // A BCD with a nibble above 9 is no decimal.
  auto decimal = MakeValue(dtDecimal, 0, 0, 2);
  TBcd bcd;
  bcd.Precision = 2;
  bcd.Fraction[0] = 0x1A;
  std::memcpy(buffer, &bcd, sizeof bcd);
  EXPECT_EQ(Outcome([&] {
              decimal->SetAsFieldBuffer(buffer, true);
              return std::string();
            }),
            "E!");
  // A timestamp double beyond every integer is refused before conversion.
  auto timestamp = MakeValue(dtTimestamp);
  double huge = 1e300;
  std::memcpy(buffer, &huge, sizeof huge);
  EXPECT_EQ(Outcome([&] {
              timestamp->SetAsFieldBuffer(buffer, true);
              return std::string();
            }),
            "R!");
}

}  // namespace
}  // namespace brn
