#include "clientserver/components/param_conversion.h"

#include "clientserver/server/server_engine_manager.h"
#include "foundation/values/param_value.h"

namespace brn {

namespace {

bool returnsValue(TParamType type) {
  return type == ptOutput || type == ptInputOutput || type == ptResult;
}

TBRNParamValue& engineValue(const TBRNParamValues& values, int32_t index) {
  return *static_cast<TBRNParamValue*>(values.GetItem(index));
}

}  // namespace

TFieldType EngineTypeToFieldType(int32_t dataType, TBRNDataSubType subType) {
  switch (dataType) {
    case dtChar:
      if (subType == stFixed) return ftFixedChar;
      if (subType == stGuid) return ftGuid;
      return ftString;
    case dtBytes:
      if (subType == stFixed) return ftBytes;
      if (subType == stGuid) return ftGuid;
      return ftVarBytes;
    case dtLob:
      return subType == stClob ? ftMemo : ftBlob;
    case dtBoolean:
      return ftBoolean;
    case dtSmallInt:
      return ftSmallint;
    case dtInteger:
    case dtYearMonthInterval:
      return ftInteger;
    case dtBigInt:
    case dtDayTimeInterval:
      return ftLargeint;
    case dtFloat:
      return ftFloat;
    case dtDecimal:
      return ftBCD;
    case dtDate:
      return ftDate;
    case dtTime:
      return ftTime;
    case dtTimestamp:
      return ftDateTime;
    default:
      return ftUnknown;
  }
}

int32_t FieldTypeToEngineType(TFieldType fieldType) {
  switch (fieldType) {
    case ftString:
    case ftFixedChar:
    case ftGuid:
      return dtChar;
    case ftBytes:
    case ftVarBytes:
      return dtBytes;
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftTypedBinary:
      return dtLob;
    case ftBoolean:
      return dtBoolean;
    case ftSmallint:
      return dtSmallInt;
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return dtInteger;
    case ftLargeint:
      return dtBigInt;
    case ftFloat:
    case ftCurrency:
      return dtFloat;
    case ftBCD:
      return dtDecimal;
    case ftDate:
      return dtDate;
    case ftTime:
      return dtTime;
    case ftDateTime:
      return dtTimestamp;
    default:
      return dtNull;
  }
}

TBRNDataSubType FieldTypeToEngineSubType(TFieldType fieldType) {
  switch (fieldType) {
    case ftBytes:
    case ftFixedChar:
      return stFixed;
    case ftMemo:
      return stClob;
    case ftGuid:
      return stGuid;
    default:
      return stDefault;
  }
}

TParamType EngineDirectionToParamType(int32_t direction) {
  switch (direction) {
    case pmInput:
      return ptInput;
    case pmOutput:
      return ptOutput;
    case pmInputOutput:
      return ptInputOutput;
    case pmResult:
      return ptResult;
    default:
      return ptUnknown;
  }
}

void SetParamTypeFromEngine(TParam& param, const TBRNValue& value) {
  param.DataType = EngineTypeToFieldType(value.GetDataType(), value.GetSubType());
  param.Size = value.GetDataType() == dtDecimal ? value.GetScale() : 0;
}

void EngineParamsToParams(TParams& params, const TBRNParamValues& values) {
  params.Clear();
  for (int32_t index = 0; index < values.GetCount(); ++index) {
    const TBRNParamValue& value = engineValue(values, index);
    TParam& param =
        params.CreateParam(EngineTypeToFieldType(value.GetDataType(), value.GetSubType()),
                           value.GetName(), EngineDirectionToParamType(value.GetDirection()));
    TVariant variant;
    value.GetAsVariant(variant);
    param.SetValue(variant);
  }
}

void ParamsToEngineOutput(const TParams& params, TBRNParamValues& values) {
  for (int32_t index = 0; index < params.Count() && index < values.GetCount(); ++index) {
    const TParam& param = params.Get(index);
    if (returnsValue(param.ParamType)) engineValue(values, index).SetAsVariant(param.GetValue());
  }
}

void ParamsToEngineValues(const TParams& params, TBRNParamValues& values) {
  values.SetAllNull();
  for (int32_t index = 0; index < params.Count() && index < values.GetCount(); ++index) {
    const TParam& param = params.Get(index);
    TBRNParamValue& value = engineValue(values, index);
    value.SetName(param.Name);
    if (value.GetDataType() == dtNull) {
      value.SetDataType(TBRNDataTypeCode(FieldTypeToEngineType(param.DataType)));
      value.SetDataSubType(FieldTypeToEngineSubType(param.DataType));
      if (value.GetDataType() == dtDecimal) {
        value.SetScale(param.Size);
      } else if (value.GetDataType() == dtChar || value.GetDataType() == dtBytes) {
        value.SetDeclaredLengthOnly(param.Size);
      }
    }
    if (param.ParamType == ptInput || param.ParamType == ptInputOutput)
      value.SetAsVariant(param.GetValue());
  }
}

void EngineValuesToParams(TParams& params, const TBRNParamValues& values) {
  for (int32_t index = 0; index < params.Count() && index < values.GetCount(); ++index) {
    TParam& param = params.Get(index);
    if (!returnsValue(param.ParamType)) continue;
    TVariant variant;
    engineValue(values, index).GetAsVariant(variant);
    param.SetValue(variant);
  }
}

void SetUnknownParamsToInput(TParams& params) {
  for (int32_t index = 0; index < params.Count(); ++index) {
    TParam& param = params.Get(index);
    if (param.ParamType == ptUnknown) param.ParamType = ptInput;
  }
}

TBRNServerProcedure::TBRNServerProcedure(TBRNServerEngineManagerProcedure& request)
    : ProcedureName(request.Name), Params(std::make_unique<TParams>()), request_(&request) {
  EngineParamsToParams(*Params, request.Params);
}

void TBRNServerProcedure::UpdateRequest() {
  ParamsToEngineOutput(*Params, request_->Params);
}

}  // namespace brn
