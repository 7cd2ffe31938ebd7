#pragma once

#include <cstdint>

namespace brn {

// Request codes on an open database and on statement, procedure and script
// handles.
inline constexpr int32_t kBRNStartTransactionCode = 40;
inline constexpr int32_t kBRNCommitTransactionCode = 41;
inline constexpr int32_t kBRNRollbackTransactionCode = 42;
inline constexpr int32_t kBRNOpenTableCode = 123;
inline constexpr int32_t kBRNFreeCursorCode = 184;
inline constexpr int32_t kBRNPrepareStatementCode = 250;
inline constexpr int32_t kBRNExecuteStatementCode = 251;
inline constexpr int32_t kBRNFreeStatementCode = 252;
inline constexpr int32_t kBRNPrepareProcedureCode = 260;
inline constexpr int32_t kBRNExecuteProcedureCode = 261;
inline constexpr int32_t kBRNFreeProcedureCode = 262;
inline constexpr int32_t kBRNPrepareScriptCode = 360;
inline constexpr int32_t kBRNExecuteScriptCode = 361;
inline constexpr int32_t kBRNFreeScriptCode = 362;
inline constexpr int32_t kBRNDebugScriptCode = 363;
inline constexpr int32_t kBRNGetScriptCursorCode = 364;
inline constexpr int32_t kBRNSetScriptBreakpointCode = 365;
inline constexpr int32_t kBRNScriptBreakpointCode = 366;
inline constexpr int32_t kBRNRemoveScriptBreakpointCode = 367;
inline constexpr int32_t kBRNPauseScriptCode = 368;
inline constexpr int32_t kBRNStepOverScriptCode = 369;
inline constexpr int32_t kBRNStepIntoScriptCode = 370;
inline constexpr int32_t kBRNResumeScriptCode = 371;
inline constexpr int32_t kBRNStopScriptCode = 372;
inline constexpr int32_t kBRNGetScriptVariableNamesCode = 373;
inline constexpr int32_t kBRNGetScriptVariableDataCode = 374;

}  // namespace brn
