// The check tables of the validator: one check method per function,
// statement and procedural statement code that needs one. Each area's checks
// register here, one line per code; an empty entry means the node needs no
// check of its own.

#include "sql/validator/expr_validator.h"

namespace brn {

void TBRNExprValidater::InitFunctionChecks() {
  FunctionChecks.fill(nullptr);
  const auto set = [this](TBRNExprOperation Code, TBRNCheckMethod Check) {
    FunctionChecks[size_t(Code - FirstFunctionCode)] = Check;
  };
  // Built-in functions (function_validation.cpp). CURRENT_COMPUTER ..
  // CURRENT_VERSION, ERRORCODE, ERRORMSG and OPERATION have no check: their
  // parse type is final and they take no argument.
  set(opAborted, &TBRNExprValidater::ValidateAbortedFunction);
  set(opAbs, &TBRNExprValidater::ValidateAbsFunction);
  set(opAcos, &TBRNExprValidater::ValidateAcosFunction);
  set(opAsin, &TBRNExprValidater::ValidateAsinFunction);
  set(opAtan, &TBRNExprValidater::ValidateAtanFunction);
  set(opAtan2, &TBRNExprValidater::ValidateAtan2Function);
  set(opAvg, &TBRNExprValidater::ValidateAvgFunction);
  set(opBof, &TBRNExprValidater::ValidateBofFunction);
  set(opCardinality, &TBRNExprValidater::ValidateCardinalityFunction);
  set(opCaseConditions, &TBRNExprValidater::ValidateCaseConditions);
  set(opCaseResults, &TBRNExprValidater::ValidateCaseResults);
  set(opCast, &TBRNExprValidater::ValidateCastFunction);
  set(opCeiling, &TBRNExprValidater::ValidateCeilingFunction);
  set(opCoalesce, &TBRNExprValidater::ValidateCoalesceFunction);
  set(opColumnCount, &TBRNExprValidater::ValidateColumnCountFunction);
  set(opColumnName, &TBRNExprValidater::ValidateColumnNameFunction);
  set(opConcat, &TBRNExprValidater::ValidateConcatFunction);
  set(opCos, &TBRNExprValidater::ValidateCosFunction);
  set(opCot, &TBRNExprValidater::ValidateCotFunction);
  set(opCount, &TBRNExprValidater::ValidateCountFunction);
  set(opDegrees, &TBRNExprValidater::ValidateDegreesFunction);
  set(opEof, &TBRNExprValidater::ValidateEofFunction);
  set(opExists, &TBRNExprValidater::ValidateExistsFunction);
  set(opExp, &TBRNExprValidater::ValidateExpFunction);
  set(opExtractDay, &TBRNExprValidater::ValidateExtractDay);
  set(opExtractDayOfWeek, &TBRNExprValidater::ValidateExtractDayOfWeek);
  set(opExtractDayOfYear, &TBRNExprValidater::ValidateExtractDayOfYear);
  set(opExtractHour, &TBRNExprValidater::ValidateExtractHour);
  set(opExtractMinute, &TBRNExprValidater::ValidateExtractMinute);
  set(opExtractMonth, &TBRNExprValidater::ValidateExtractMonth);
  set(opExtractMSecond, &TBRNExprValidater::ValidateExtractMSecond);
  set(opExtractSecond, &TBRNExprValidater::ValidateExtractSecond);
  set(opExtractWeek, &TBRNExprValidater::ValidateExtractWeek);
  set(opExtractYear, &TBRNExprValidater::ValidateExtractYear);
  set(opFloor, &TBRNExprValidater::ValidateFloorFunction);
  set(opCase, &TBRNExprValidater::ValidateCaseFunction);
  set(opIfNull, &TBRNExprValidater::ValidateIfNullFunction);
  set(opIf, &TBRNExprValidater::ValidateIfFunction);
  set(opInTransaction, &TBRNExprValidater::ValidateInTransactionFunction);
  set(opLastIdentity, &TBRNExprValidater::ValidateLastIdentityFunction);
  set(opLeft, &TBRNExprValidater::ValidateLeftFunction);
  set(opLength, &TBRNExprValidater::ValidateLengthFunction);
  set(opList, &TBRNExprValidater::ValidateListFunction);
  set(opLoadingUpdates, &TBRNExprValidater::ValidateLoadingUpdatesFunction);
  set(opLog, &TBRNExprValidater::ValidateLogFunction);
  set(opLog10, &TBRNExprValidater::ValidateLog10Function);
  set(opLower, &TBRNExprValidater::ValidateLowerFunction);
  set(opMax, &TBRNExprValidater::ValidateMaxFunction);
  set(opMin, &TBRNExprValidater::ValidateMinFunction);
  set(opNullIf, &TBRNExprValidater::ValidateNullIfFunction);
  set(opOccurs, &TBRNExprValidater::ValidateOccursFunction);
  set(opPi, &TBRNExprValidater::ValidatePiFunction);
  set(opPosition, &TBRNExprValidater::ValidatePositionFunction);
  set(opPower, &TBRNExprValidater::ValidatePowerFunction);
  set(opQuotedStr, &TBRNExprValidater::ValidateQuotedStrFunction);
  set(opRadians, &TBRNExprValidater::ValidateRadiansFunction);
  set(opRand, &TBRNExprValidater::ValidateRandFunction);
  set(opRepeat, &TBRNExprValidater::ValidateRepeatFunction);
  set(opReplace, &TBRNExprValidater::ValidateReplaceFunction);
  set(opRight, &TBRNExprValidater::ValidateRightFunction);
  set(opRound, &TBRNExprValidater::ValidateRoundFunction);
  set(opRowCount, &TBRNExprValidater::ValidateRowCountFunction);
  set(opRowsAffected, &TBRNExprValidater::ValidateRowsAffectedFunction);
  set(opRunSum, &TBRNExprValidater::ValidateRunSumFunction);
  set(opSensitive, &TBRNExprValidater::ValidateSensitiveFunction);
  set(opSign, &TBRNExprValidater::ValidateSignFunction);
  set(opSin, &TBRNExprValidater::ValidateSinFunction);
  set(opSqrt, &TBRNExprValidater::ValidateSqrtFunction);
  set(opStdDev, &TBRNExprValidater::ValidateStdDevFunction);
  set(opStmtResult, &TBRNExprValidater::ValidateStmtResultFunction);
  set(opSubstring, &TBRNExprValidater::ValidateSubstringFunction);
  set(opSum, &TBRNExprValidater::ValidateSumFunction);
  set(opSumSquare, &TBRNExprValidater::ValidateSumSquareFunction);
  set(opTan, &TBRNExprValidater::ValidateTanFunction);
  set(opTrim, &TBRNExprValidater::ValidateTrimFunction);
  set(opTrimBoth, &TBRNExprValidater::ValidateTrimFunction);
  set(opTrimLeading, &TBRNExprValidater::ValidateTrimFunction);
  set(opTrimTrailing, &TBRNExprValidater::ValidateTrimFunction);
  set(opTruncate, &TBRNExprValidater::ValidateTruncateFunction);
  set(opUserFunction, &TBRNExprValidater::ValidateUserFunctionCall);
  set(opUpper, &TBRNExprValidater::ValidateUpperFunction);
}

void TBRNExprValidater::InitStatementChecks() {
  StatementChecks.fill(nullptr);
  RegisterStatementChecks();  // statement_validation.cpp
}

void TBRNExprValidater::InitRoutineStatementChecks() {
  RoutineStatementChecks.fill(nullptr);
  RegisterRoutineStatementChecks();  // routine_validation.cpp
}

}  // namespace brn
