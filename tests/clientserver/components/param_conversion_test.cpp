#include "clientserver/components/param_conversion.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "clientserver/components/component_error.h"
#include "clientserver/server/server_engine_manager.h"
#include "foundation/text/exception.h"
#include "foundation/values/param_value.h"

namespace brn {
namespace {

TBRNParamValue* AddValue(TBRNParamValues& values, const std::string& name, int32_t direction,
                         TBRNDataTypeCode type) {
  auto* value = new TBRNParamValue();
  value->SetName(name);
  value->SetDirection(direction);
  value->SetDataType(type);
  values.Add(value);
  return value;
}

TEST(ComponentErrorTest, CarriesTheEngineErrorOrTheUnknownCode) {
  EBRNError engine(EBRNException(300, "Bad thing", 3, 7));
  EXPECT_EQ(engine.ErrorCode, 300);
  EXPECT_EQ(engine.ErrorMessage, "Bad thing");
  EXPECT_EQ(engine.ErrorLine, 3);
  EXPECT_EQ(engine.ErrorColumn, 7);

  EBRNError other(std::runtime_error("Out of paper"));
  EXPECT_EQ(other.ErrorCode, 9999);
  EXPECT_EQ(other.ErrorMessage, "Out of paper");
  EXPECT_STREQ(other.what(), "Out of paper");
  EXPECT_EQ(other.ErrorLine, 0);
  EXPECT_EQ(other.ErrorColumn, 0);
}

// A component parameter's type becomes the engine value's when the value has
// none yet.
TEST(ParamConversionTest, UntypedEngineValuesTakeTheParameterType) {
  struct Case {
    TFieldType fieldType;
    TBRNDataTypeCode engineType;
    TBRNDataSubType subType;
  };
  const Case cases[] = {
      {ftCurrency, dtFloat, stDefault},
      {ftWord, dtInteger, stDefault},
      {ftWideString, dtNull, stDefault},
      {ftFixedChar, dtChar, stFixed},
      {ftGuid, dtChar, stGuid},
      {ftBytes, dtBytes, stFixed},
      {ftMemo, dtLob, stClob},
      {ftGraphic, dtLob, stDefault},
      {ftAutoInc, dtInteger, stDefault},
      {ftBCD, dtDecimal, stDefault},
      {ftDateTime, dtTimestamp, stDefault},
      {ftLargeint, dtBigInt, stDefault},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.fieldType));
    TParams params;
    params.CreateParam(c.fieldType, "P", ptOutput);
    TBRNParamValues values;
    AddValue(values, "", pmNotSet, dtNull);
    ParamsToEngineValues(params, values);
    EXPECT_EQ(values.GetItem(0)->GetDataType(), c.engineType);
    EXPECT_EQ(values.GetItem(0)->GetSubType(), c.subType);
    EXPECT_EQ(static_cast<TBRNParamValue*>(values.GetItem(0))->GetName(), "P");
  }
}

TEST(ParamConversionTest, InputValuesGoInAndTheRestStayNull) {
  TParams params;
  params.CreateParam(ftInteger, "A", ptInput).SetValue(TVariant::FromInteger(5));
  params.CreateParam(ftInteger, "B", ptOutput).SetValue(TVariant::FromInteger(6));
  TBRNParamValues values;
  for (const char* name : {"", "", "C"}) AddValue(values, name, pmNotSet, dtInteger);
  values.GetItem(2)->SetAsInteger(9);
  ParamsToEngineValues(params, values);
  EXPECT_EQ(values.GetItem(0)->GetAsInteger(), 5);
  // An output parameter's value is not sent; a value beyond the parameters
  // is NULL.
  EXPECT_TRUE(values.GetItem(1)->GetNull());
  EXPECT_TRUE(values.GetItem(2)->GetNull());
}

TEST(ParamConversionTest, EngineValuesBecomeParameters) {
  TBRNParamValues values;
  AddValue(values, "Amount", pmInputOutput, dtDecimal)->SetScale(2);
  values.GetItem(0)->SetAsString("12.50");
  AddValue(values, "Note", pmResult, dtLob)->SetDataSubType(stClob);
  AddValue(values, "Odd", 9, dtInteger);
  TParams params;
  EngineParamsToParams(params, values);
  ASSERT_EQ(params.Count(), 3);
  EXPECT_EQ(params.Get(0).DataType, ftBCD);
  EXPECT_EQ(params.Get(0).ParamType, ptInputOutput);
  EXPECT_EQ(params.Get(0).Name, "Amount");
  EXPECT_EQ(params.Get(0).GetValue().AsCurrency(), 125000);
  EXPECT_EQ(params.Get(1).DataType, ftMemo);
  EXPECT_EQ(params.Get(1).ParamType, ptResult);
  EXPECT_TRUE(params.Get(1).IsNull());
  EXPECT_EQ(params.Get(2).ParamType, ptUnknown);

  TParam decimal("D", ftUnknown, ptInput);
  SetParamTypeFromEngine(decimal, *values.GetItem(0));
  EXPECT_EQ(decimal.DataType, ftBCD);
  EXPECT_EQ(decimal.Size, 2);

  SetUnknownParamsToInput(params);
  EXPECT_EQ(params.Get(2).ParamType, ptInput);
}

TEST(ParamConversionTest, OnlyReturnedValuesGoBack) {
  TBRNParamValues values;
  for (int32_t direction : {pmInput, pmOutput, pmInputOutput, pmResult})
    AddValue(values, "P" + std::to_string(direction), direction, dtInteger)->SetAsInteger(1);
  TParams params;
  EngineParamsToParams(params, values);
  for (int32_t i = 0; i < params.Count(); ++i) params.Get(i).SetValue(TVariant::FromInteger(7));
  ParamsToEngineOutput(params, values);
  EXPECT_EQ(values.GetItem(0)->GetAsInteger(), 1);
  for (int32_t i = 1; i < 4; ++i) EXPECT_EQ(values.GetItem(i)->GetAsInteger(), 7);

  values.GetItem(0)->SetAsInteger(20);
  values.GetItem(3)->SetAsInteger(30);
  EngineValuesToParams(params, values);
  EXPECT_EQ(params.Get(0).GetValue().AsInteger(), 7);
  EXPECT_EQ(params.Get(3).GetValue().AsInteger(), 30);
}

TEST(ParamConversionTest, ServerProcedureWritesOnlyReturnedValuesBack) {
  TBRNServerEngineManagerProcedure request;
  request.Name = "Double";
  AddValue(request.Params, "In", pmInput, dtInteger)->SetAsInteger(3);
  AddValue(request.Params, "Out", pmOutput, dtInteger);
  TBRNServerProcedure procedure(request);
  EXPECT_EQ(procedure.ProcedureName, "Double");
  procedure.Params->Get(0).SetValue(TVariant::FromInteger(100));
  procedure.Params->Get(1).SetValue(TVariant::FromInteger(6));
  procedure.UpdateRequest();
  EXPECT_EQ(request.Params.GetItem(0)->GetAsInteger(), 3);
  EXPECT_EQ(request.Params.GetItem(1)->GetAsInteger(), 6);
}

}  // namespace
}  // namespace brn
