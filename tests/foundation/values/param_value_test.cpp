#include "foundation/values/param_value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::StreamBytes;

constexpr int32_t kGermanCaseInsensitive = 1031 | (1 << CaseInsensitiveBit);

// The descriptor and data of one parameter.
struct ParamShape {
  const char* name;
  int32_t direction;
  TBRNDataTypeCode type;
  TBRNDataSubType subType;
  int32_t length;
  int32_t scale;
  int32_t collation;
  const char* text;  // nullptr: NULL
};

TBRNParamValue* NewParam(const ParamShape& shape) {
  auto* param = new TBRNParamValue();
  param->SetName(shape.name);
  param->SetDirection(shape.direction);
  param->SetDataType(shape.type);
  param->SetDataSubType(shape.subType);
  param->SetLength(shape.length);
  param->SetScale(shape.scale);
  param->SetCollation(shape.collation);
  if (shape.text) param->SetAsString(shape.text);
  return param;
}

TEST(ParamValues, FindParamIgnoresCaseAndTrailingBlanks) {
  TBRNParamValues params;
  params.Add(NewParam({"ORDERNO", pmInput, dtInteger, 0, 0, 0, 0, "1"}));
  params.Add(NewParam({"CUSTNO", pmInput, dtInteger, 0, 0, 0, 0, "2"}));
  params.Add(NewParam({"custno", pmInput, dtInteger, 0, 0, 0, 0, "3"}));
  for (const char* name : {"CustNo", "CUSTNO", "CustNo  "}) {
    EXPECT_EQ(params.FindParam(name)->GetAsInteger(), 2) << name;  // the first match
  }
  EBRNException e = CaughtError([&] { params.FindParam("Cust"); });
  EXPECT_EQ(e.ErrorCode, 401);
  EXPECT_EQ(e.ErrorMessage, "The parameter Cust does not exist");
  EXPECT_EQ(params.GetCount(), 3);
}

struct ErrorCase {
  ParamShape param;
  std::function<void(TBRNParamValue&)> set;
  const char* message;
};

TEST(ParamValue, ErrorsNameTheParameter) {
  const ErrorCase cases[] = {
      {{"Code", pmInput, dtChar, stDefault, 5, 0, 0, "xy"},
       [](TBRNParamValue& p) { p.SetAsString("abcdef"); },
       "An error occurred with the parameter Code (The value abcdef would result in truncation)"},
      {{"Code", pmInput, dtChar, stDefault, 5, 0, 0, nullptr},
       [](TBRNParamValue& p) { p.SetAsString("abcdef"); },
       "An error occurred with the parameter Code (The value abcdef would result in truncation)"},
      {{"Raw", pmInput, dtBytes, stDefault, 2, 0, 0, "0102"},
       [](TBRNParamValue& p) { p.SetAsString("010203"); },
       "An error occurred with the parameter Raw (The value 010203 would result in truncation)"},
      {{"Qty", pmInput, dtSmallInt, 0, 0, 0, 0, "7"},
       [](TBRNParamValue& p) { p.SetAsInteger(40000); },
       "An error occurred with the parameter Qty (The value 40000 is out of the range of "
       "permissible values for the SmallInt type)"},
      {{"Qty", pmInput, dtSmallInt, 0, 0, 0, 0, "7"},
       [](TBRNParamValue& p) { p.SetAsString("70000"); },
       "An error occurred with the parameter Qty (The value 70000 is out of the range of "
       "permissible values for the SmallInt type)"},
      {{"Day", pmInput, dtDate, 0, 0, 0, 0, "2024-02-29"},
       [](TBRNParamValue& p) { p.SetAsString("tomorrow"); },
       "An error occurred with the parameter Day (A conversion error occurred with the value "
       "tomorrow)"},
  };
  for (const ErrorCase& c : cases) {
    std::unique_ptr<TBRNParamValue> param(NewParam(c.param));
    std::string before = param->GetAsString();
    EBRNException e = CaughtError([&] { c.set(*param); });
    EXPECT_EQ(e.ErrorCode, 1011) << c.message;
    EXPECT_EQ(e.ErrorMessage, c.message);
    EXPECT_FALSE(param->GetNull()) << c.message;
    EXPECT_EQ(param->GetAsString(), before) << c.message;
  }
}

TEST(ParamValue, TrailingBlanksBeyondTheDeclaredLengthAreDropped) {
  std::unique_ptr<TBRNParamValue> param(
      NewParam({"Code", pmInput, dtChar, stDefault, 5, 0, 0, "abc     "}));
  EXPECT_EQ(param->GetAsString(), "abc  ");
  EXPECT_EQ(param->GetDeclaredLength(), 5);
}

TEST(ParamValue, StreamFormWithTheHeader) {
  std::unique_ptr<TBRNParamValue> param(
      NewParam({"P", pmInputOutput, dtChar, stDefault, 3, 0, kGermanCaseInsensitive, "ab"}));
  TBRNMemoryStream stream;
  param->SaveToStream(stream);
  const uint8_t collation[4] = {0x07, 0x04, 0x10, 0x00};
  const std::vector<uint8_t> expected = {3,
                                         0,
                                         0,
                                         0,  // direction
                                         1,
                                         0,
                                         0,
                                         0,
                                         'P',  // name
                                         1,
                                         0,
                                         0,
                                         0,  // VarChar
                                         0,
                                         0,
                                         0,
                                         0,  // subtype
                                         3,
                                         0,
                                         0,
                                         0,  // declared length
                                         0,
                                         0,
                                         0,
                                         0,  // scale
                                         collation[0],
                                         collation[1],
                                         collation[2],
                                         collation[3],  // collation
                                         0,
                                         2,
                                         0,
                                         0,
                                         0,
                                         'a',
                                         'b'};  // the value
  EXPECT_EQ(StreamBytes(stream), expected);
}

TEST(ParamValues, AListSurvivesSaveAndLoad) {
  const ParamShape shapes[] = {
      {"Name", pmInput, dtChar, stDefault, 10, 0, kGermanCaseInsensitive, "M\xFCller"},
      {"Code", pmInput, dtChar, stFixed, 4, 0, 0, "ab"},
      {"Id", pmInput, dtBytes, stGuid, 16, 0, 0, "00112233445566778899AABBCCDDEEFF"},
      {"Amount", pmOutput, dtDecimal, 0, 0, 2, 0, "12.34"},
      {"At", pmInputOutput, dtTimestamp, 0, 0, 0, 0, nullptr},
      {"Span", pmInput, dtDayTimeInterval, ifDay | ifHour, 0, 0, 0, "1 12"},
      {"Notes", pmInput, dtLob, stClob, 0, 0, 0, "long text"},
      {"Result", pmResult, dtBoolean, 0, 0, 0, 0, "TRUE"},
  };
  TBRNParamValues source;
  for (const ParamShape& shape : shapes) source.Add(NewParam(shape));
  TBRNMemoryStream stream;
  source.SaveToStream(stream);

  TBRNParamValues loaded;
  stream.SetPosition(0);
  loaded.LoadFromStream(stream);
  EXPECT_EQ(stream.GetRemaining(), 0);
  ASSERT_EQ(loaded.GetCount(), int32_t(std::size(shapes)));
  for (int32_t i = 0; i < loaded.GetCount(); ++i) {
    const auto& want = static_cast<const TBRNParamValue&>(*source.GetItem(i));
    const auto* got = dynamic_cast<const TBRNParamValue*>(loaded.GetItem(i));
    ASSERT_NE(got, nullptr);
    SCOPED_TRACE(want.GetName());
    EXPECT_EQ(got->GetName(), want.GetName());
    EXPECT_EQ(got->GetDirection(), want.GetDirection());
    EXPECT_EQ(got->GetDataType(), want.GetDataType());
    EXPECT_EQ(got->GetSubType(), want.GetSubType());
    EXPECT_EQ(got->GetDeclaredLength(), want.GetDeclaredLength());
    EXPECT_EQ(got->GetScale(), want.GetScale());
    EXPECT_EQ(got->GetCollation(), want.GetCollation());
    EXPECT_EQ(got->GetNull(), want.GetNull());
    if (!want.GetNull()) {
      EXPECT_EQ(got->GetAsString(), want.GetAsString());
    }
  }
  EXPECT_EQ(loaded.Compare(source, 0, false), 0);
}

TEST(ParamValues, OutputParametersAloneAreSaved) {
  TBRNParamValues params;
  params.Add(NewParam({"In", pmInput, dtInteger, 0, 0, 0, 0, "5"}));
  params.Add(NewParam({"Out", pmOutput, dtChar, stDefault, 10, 0, 0, "ok"}));
  params.Add(NewParam({"None", pmNotSet, dtInteger, 0, 0, 0, 0, "6"}));
  params.Add(NewParam({"InOut", pmInputOutput, dtSmallInt, 0, 0, 0, 0, "258"}));
  params.Add(NewParam({"Result", pmResult, dtInteger, 0, 0, 0, 0, nullptr}));
  TBRNMemoryStream stream;
  params.SaveOutputParams(stream);
  const std::vector<uint8_t> expected = {0, 2, 0, 0, 0, 'o', 'k',  // Out
                                         0, 2, 1,                  // InOut
                                         1};                       // Result: NULL
  EXPECT_EQ(StreamBytes(stream), expected);

  // The other side holds the same list and takes the values back.
  TBRNParamValues client;
  client.Add(NewParam({"In", pmInput, dtInteger, 0, 0, 0, 0, "1"}));
  client.Add(NewParam({"Out", pmOutput, dtChar, stDefault, 10, 0, 0, nullptr}));
  client.Add(NewParam({"None", pmNotSet, dtInteger, 0, 0, 0, 0, "2"}));
  client.Add(NewParam({"InOut", pmInputOutput, dtSmallInt, 0, 0, 0, 0, "3"}));
  client.Add(NewParam({"Result", pmResult, dtInteger, 0, 0, 0, 0, "4"}));
  stream.SetPosition(0);
  client.LoadOutputParams(stream);
  EXPECT_EQ(client.FindParam("In")->GetAsInteger(), 1);
  EXPECT_EQ(client.FindParam("Out")->GetAsString(), "ok");
  EXPECT_EQ(client.FindParam("None")->GetAsInteger(), 2);
  EXPECT_EQ(client.FindParam("InOut")->GetAsInteger(), 258);
  EXPECT_TRUE(client.FindParam("Result")->GetNull());
}

TEST(ParamValues, HostileStreamsRaiseTheConversionError) {
  // A count of parameters that the remaining bytes cannot hold.
  TBRNMemoryStream countStream;
  countStream.WriteInteger(2);
  for (int32_t i = 0; i < 40; ++i) countStream.WriteByte(0);
  countStream.SetPosition(0);
  TBRNParamValues params;
  EXPECT_EQ(CaughtError([&] { params.LoadFromStream(countStream); }).ErrorCode, 1011);
  EXPECT_EQ(params.GetCount(), 0);

  // A negative declared length.
  TBRNMemoryStream lengthStream;
  std::unique_ptr<TBRNParamValue> param(
      NewParam({"Bad", pmInput, dtChar, stDefault, 4, 0, 0, nullptr}));
  param->SaveToStream(lengthStream);
  lengthStream.SetPosition(4 + 4 + 3 + 4 + 4);
  lengthStream.WriteInteger(-4);
  lengthStream.SetPosition(0);
  TBRNParamValue target;
  EBRNException e = CaughtError([&] { target.LoadFromStream(lengthStream); });
  EXPECT_EQ(e.ErrorCode, 1011);
  EXPECT_EQ(e.ErrorMessage,
            "An error occurred with the parameter Bad (A conversion error occurred with the value "
            "-4)");
}

// A declared length arrives in a header: a Char or Bytes one beyond the
// largest such type is refused when it is read, NULL or not, so that no later
// assignment sizes a buffer by it; a LOB's is no buffer size and is kept.
TEST(ParamValues, DeclaredLengthsAreBoundedWhenRead) {
  constexpr int32_t kHuge = 0x7FFFFFF0;
  struct Case {
    TBRNDataTypeCode type;
    TBRNDataSubType subType;
    const char* text;  // nullptr: NULL
    int32_t length;
    bool refused;
  } cases[] = {
      {dtChar, stFixed, nullptr, kHuge, true},
      {dtChar, stFixed, "abc", kHuge, true},
      {dtChar, stFixed, nullptr, MaxDeclaredLength + 1, true},
      {dtChar, stFixed, nullptr, MaxDeclaredLength, false},
      {dtBytes, stFixed, nullptr, kHuge, true},
      {dtChar, stDefault, nullptr, kHuge, true},
      {dtChar, stDefault, "abc", kHuge, true},
      {dtBytes, stDefault, nullptr, kHuge, true},
      {dtChar, stDefault, "abc", MaxDeclaredLength, false},
      {dtLob, stDefault, nullptr, kHuge, false},
      {dtLob, stClob, "abc", kHuge, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(int(c.type)) + "/" + std::to_string(c.subType) + "/" +
                 std::to_string(c.length));
    std::unique_ptr<TBRNParamValue> param(
        NewParam({"Big", pmInput, c.type, c.subType, 8, 0, 0, c.text}));
    TBRNMemoryStream stream;
    param->SaveToStream(stream);
    stream.SetPosition(4 + 4 + 3 + 4 + 4);  // the declared length
    stream.WriteInteger(c.length);
    stream.SetPosition(0);
    TBRNParamValue target;
    if (c.refused) {
      EBRNException e = CaughtError([&] { target.LoadFromStream(stream); });
      EXPECT_EQ(e.ErrorCode, 1011);
      EXPECT_EQ(e.ErrorMessage,
                "An error occurred with the parameter Big (A conversion error "
                "occurred with the value " +
                    std::to_string(c.length) + ")");
      continue;
    }
    target.LoadFromStream(stream);
    EXPECT_EQ(target.GetDeclaredLength(), c.length);
    EXPECT_EQ(target.GetNull(), c.text == nullptr);
    if (c.text) {
      EXPECT_EQ(target.GetAsString().substr(0, 3), c.text);
    }
    if (c.type == dtLob) {
      EXPECT_LT(target.GetDataSize(), 64);
    } else {
      // The first assignment sizes the buffer by the declared length at most.
      target.SetAsString("x");
      EXPECT_LE(target.GetDataSize(), MaxDeclaredLength + 4);
    }
  }
}

// A NULL fixed-width parameter read from a stream holds its whole width, so
// that after an assignment that fails (and leaves it non-NULL) it still writes
// as many characters or bytes as it declares, and reads back the same.
TEST(ParamValues, ALoadedNullFixedParameterHoldsItsWidth) {
  for (TBRNDataTypeCode type : {dtChar, dtBytes}) {
    SCOPED_TRACE(int(type));
    std::unique_ptr<TBRNParamValue> param(
        NewParam({"Code", pmInput, type, stFixed, 4, 0, 0, nullptr}));
    TBRNMemoryStream stream;
    param->SaveToStream(stream);
    stream.SetPosition(0);
    TBRNParamValue target;
    target.LoadFromStream(stream);
    EXPECT_TRUE(target.GetNull());
    EXPECT_EQ(target.GetDataSize(), 4);
    if (type == dtBytes) {
      EXPECT_EQ(CaughtError([&] { target.SetAsString("not hex"); }).ErrorCode, 1011);
      EXPECT_FALSE(target.GetNull());
      TBRNMemoryStream saved;
      target.SaveParamToStream(saved, false);
      EXPECT_EQ(StreamBytes(saved), (std::vector<uint8_t>{0, 4, 0, 0, 0, 0, 0, 0, 0}));
    }
  }
}

TEST(ParamValues, ClearParamsFreesOnlyOwnedParameters) {
  std::unique_ptr<TBRNParamValue> kept(NewParam({"Kept", pmInput, dtInteger, 0, 0, 0, 0, "9"}));
  {
    TBRNReferencedParamValues referenced;
    EXPECT_FALSE(referenced.GetOwnsValues());
    referenced.Add(kept.get());
    referenced.ClearParams();
    EXPECT_EQ(referenced.GetCount(), 1);
    EXPECT_EQ(referenced.FindParam("kept"), kept.get());
  }  // the list goes, the parameter stays (AddressSanitizer would see a reuse)
  EXPECT_EQ(kept->GetAsInteger(), 9);

  TBRNParamValues owned;
  owned.Add(NewParam({"Gone", pmInput, dtInteger, 0, 0, 0, 0, "1"}));
  owned.ClearParams();  // LeakSanitizer would see a parameter left behind
  EXPECT_EQ(owned.GetCount(), 0);
}

}  // namespace
}  // namespace brn
