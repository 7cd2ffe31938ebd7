#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/types/data_types.h"
#include "platform/params.h"

namespace brn {

class TBRNValue;
class TBRNParamValues;
struct TBRNServerEngineManagerProcedure;

// Conversions between the components' parameter lists and the engine's
// parameter values. They raise nothing themselves; assigning a value that
// does not fit raises the engine's conversion error.

// The field type of an engine type and subtype (codes above 14: unknown).
TFieldType EngineTypeToFieldType(int32_t dataType, TBRNDataSubType subType);
// The engine type of a field type (0 for the types the engine lacks).
int32_t FieldTypeToEngineType(TFieldType fieldType);
TBRNDataSubType FieldTypeToEngineSubType(TFieldType fieldType);
TParamType EngineDirectionToParamType(int32_t direction);

// The parameter's type from the value's, Size the Decimal scale (else 0).
void SetParamTypeFromEngine(TParam& param, const TBRNValue& value);
// Params become a copy of the engine values: type, name, direction, value.
void EngineParamsToParams(TParams& params, const TBRNParamValues& values);
// The output, input/output and result parameters into the engine values at
// the same positions.
void ParamsToEngineOutput(const TParams& params, TBRNParamValues& values);
// Before an execution: every engine value NULL, then named, typed (when it
// has no type yet) and, for input directions, given the parameter's value.
void ParamsToEngineValues(const TParams& params, TBRNParamValues& values);
// After an execution: the returned values into the output, input/output and
// result parameters.
void EngineValuesToParams(TParams& params, const TBRNParamValues& values);
void SetUnknownParamsToInput(TParams& params);

// What an application's user-defined request handler works on: the
// request's name and its parameters as component parameters. The request
// must outlive it.
class TBRNServerProcedure {
 public:
  explicit TBRNServerProcedure(TBRNServerEngineManagerProcedure& request);

  // Writes the returned parameters back into the request.
  void UpdateRequest();

  std::string ProcedureName;
  std::unique_ptr<TParams> Params;

 private:
  TBRNServerEngineManagerProcedure* request_;
};

}  // namespace brn
