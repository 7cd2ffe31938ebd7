// The check tables of the validator: one check method per function,
// statement and procedural statement code that needs one. Each area's checks
// register here, one line per code; an empty entry means the node needs no
// check of its own.

#include "sql/validator/expr_validator.h"

namespace brn {

void TBRNExprValidator::InitFunctionChecks() {
  FunctionChecks.fill(nullptr);
  const auto set = [this](TBRNExprOperation Code, TBRNCheckMethod Check) {
    FunctionChecks[size_t(Code - FirstFunctionCode)] = Check;
  };
  // Built-in functions (function_validation.cpp). CURRENT_COMPUTER ..
  // CURRENT_VERSION, ERRORCODE, ERRORMSG and OPERATION have no check: their
  // parse type is final and they take no argument.
  set(opAborted, &TBRNExprValidator::ValidateAbortedFunction);
  set(opAbs, &TBRNExprValidator::ValidateAbsFunction);
  set(opAcos, &TBRNExprValidator::ValidateAcosFunction);
  set(opAsin, &TBRNExprValidator::ValidateAsinFunction);
  set(opAtan, &TBRNExprValidator::ValidateAtanFunction);
  set(opAtan2, &TBRNExprValidator::ValidateAtan2Function);
  set(opAvg, &TBRNExprValidator::ValidateAvgFunction);
  set(opBof, &TBRNExprValidator::ValidateBofFunction);
  set(opCardinality, &TBRNExprValidator::ValidateCardinalityFunction);
  set(opCaseConditions, &TBRNExprValidator::ValidateCaseConditions);
  set(opCaseResults, &TBRNExprValidator::ValidateCaseResults);
  set(opCast, &TBRNExprValidator::ValidateCastFunction);
  set(opCeiling, &TBRNExprValidator::ValidateCeilingFunction);
  set(opCoalesce, &TBRNExprValidator::ValidateCoalesceFunction);
  set(opColumnCount, &TBRNExprValidator::ValidateColumnCountFunction);
  set(opColumnName, &TBRNExprValidator::ValidateColumnNameFunction);
  set(opConcat, &TBRNExprValidator::ValidateConcatFunction);
  set(opCos, &TBRNExprValidator::ValidateCosFunction);
  set(opCot, &TBRNExprValidator::ValidateCotFunction);
  set(opCount, &TBRNExprValidator::ValidateCountFunction);
  set(opDegrees, &TBRNExprValidator::ValidateDegreesFunction);
  set(opEof, &TBRNExprValidator::ValidateEofFunction);
  set(opExists, &TBRNExprValidator::ValidateExistsFunction);
  set(opExp, &TBRNExprValidator::ValidateExpFunction);
  set(opExtractDay, &TBRNExprValidator::ValidateExtractDay);
  set(opExtractDayOfWeek, &TBRNExprValidator::ValidateExtractDayOfWeek);
  set(opExtractDayOfYear, &TBRNExprValidator::ValidateExtractDayOfYear);
  set(opExtractHour, &TBRNExprValidator::ValidateExtractHour);
  set(opExtractMinute, &TBRNExprValidator::ValidateExtractMinute);
  set(opExtractMonth, &TBRNExprValidator::ValidateExtractMonth);
  set(opExtractMSecond, &TBRNExprValidator::ValidateExtractMSecond);
  set(opExtractSecond, &TBRNExprValidator::ValidateExtractSecond);
  set(opExtractWeek, &TBRNExprValidator::ValidateExtractWeek);
  set(opExtractYear, &TBRNExprValidator::ValidateExtractYear);
  set(opFloor, &TBRNExprValidator::ValidateFloorFunction);
  set(opCase, &TBRNExprValidator::ValidateCaseFunction);
  set(opIfNull, &TBRNExprValidator::ValidateIfNullFunction);
  set(opIf, &TBRNExprValidator::ValidateIfFunction);
  set(opInTransaction, &TBRNExprValidator::ValidateInTransactionFunction);
  set(opLastIdentity, &TBRNExprValidator::ValidateLastIdentityFunction);
  set(opLeft, &TBRNExprValidator::ValidateLeftFunction);
  set(opLength, &TBRNExprValidator::ValidateLengthFunction);
  set(opList, &TBRNExprValidator::ValidateListFunction);
  set(opLoadingUpdates, &TBRNExprValidator::ValidateLoadingUpdatesFunction);
  set(opLog, &TBRNExprValidator::ValidateLogFunction);
  set(opLog10, &TBRNExprValidator::ValidateLog10Function);
  set(opLower, &TBRNExprValidator::ValidateLowerFunction);
  set(opMax, &TBRNExprValidator::ValidateMaxFunction);
  set(opMin, &TBRNExprValidator::ValidateMinFunction);
  set(opNullIf, &TBRNExprValidator::ValidateNullIfFunction);
  set(opOccurs, &TBRNExprValidator::ValidateOccursFunction);
  set(opPi, &TBRNExprValidator::ValidatePiFunction);
  set(opPosition, &TBRNExprValidator::ValidatePositionFunction);
  set(opPower, &TBRNExprValidator::ValidatePowerFunction);
  set(opQuotedStr, &TBRNExprValidator::ValidateQuotedStrFunction);
  set(opRadians, &TBRNExprValidator::ValidateRadiansFunction);
  set(opRand, &TBRNExprValidator::ValidateRandFunction);
  set(opRepeat, &TBRNExprValidator::ValidateRepeatFunction);
  set(opReplace, &TBRNExprValidator::ValidateReplaceFunction);
  set(opRight, &TBRNExprValidator::ValidateRightFunction);
  set(opRound, &TBRNExprValidator::ValidateRoundFunction);
  set(opRowCount, &TBRNExprValidator::ValidateRowCountFunction);
  set(opRowsAffected, &TBRNExprValidator::ValidateRowsAffectedFunction);
  set(opRunSum, &TBRNExprValidator::ValidateRunSumFunction);
  set(opSensitive, &TBRNExprValidator::ValidateSensitiveFunction);
  set(opSign, &TBRNExprValidator::ValidateSignFunction);
  set(opSin, &TBRNExprValidator::ValidateSinFunction);
  set(opSqrt, &TBRNExprValidator::ValidateSqrtFunction);
  set(opStdDev, &TBRNExprValidator::ValidateStdDevFunction);
  set(opStmtResult, &TBRNExprValidator::ValidateStmtResultFunction);
  set(opSubstring, &TBRNExprValidator::ValidateSubstringFunction);
  set(opSum, &TBRNExprValidator::ValidateSumFunction);
  set(opSumSquare, &TBRNExprValidator::ValidateSumSquareFunction);
  set(opTan, &TBRNExprValidator::ValidateTanFunction);
  set(opTrim, &TBRNExprValidator::ValidateTrimFunction);
  set(opTrimBoth, &TBRNExprValidator::ValidateTrimFunction);
  set(opTrimLeading, &TBRNExprValidator::ValidateTrimFunction);
  set(opTrimTrailing, &TBRNExprValidator::ValidateTrimFunction);
  set(opTruncate, &TBRNExprValidator::ValidateTruncateFunction);
  set(opUserFunction, &TBRNExprValidator::ValidateUserFunctionCall);
  set(opUpper, &TBRNExprValidator::ValidateUpperFunction);
}

void TBRNExprValidator::InitStatementChecks() {
  StatementChecks.fill(nullptr);
  RegisterStatementChecks();  // statement_validation.cpp
}

void TBRNExprValidator::InitRoutineStatementChecks() {
  RoutineStatementChecks.fill(nullptr);
  RegisterRoutineStatementChecks();  // routine_validation.cpp
}

}  // namespace brn
