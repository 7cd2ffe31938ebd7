#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "sql/tree/expr_token_kind.h"

namespace brn {

// The one-byte operation code of a syntax-tree node. One numbering covers
// operators (1-16), built-in functions (17-109), predicates (110-121), query
// clauses (122-142), definition and block clauses (143-181), procedural
// statements (182-214) and SQL statements (215-255). 0 means none (plain
// lists, names, constants, references); 192 is not produced by any construct.
enum TBRNExprOperation : uint8_t {
  opNone = 0,
  // Operators.
  opAdd = 1,
  opAnd = 2,
  opDivide = 3,
  opEqual = 4,
  opGreaterOrEqual = 5,
  opGreater = 6,
  opLessOrEqual = 7,
  opLess = 8,
  opMod = 9,
  opMultiply = 10,
  opNotEqual = 11,
  opNegate = 12,
  opNot = 13,
  opOr = 14,
  opSubtract = 15,
  opIntervalDifference = 16,
  // Built-in functions.
  opAborted = 17,
  opAbs = 18,
  opAcos = 19,
  opAsin = 20,
  opAtan = 21,
  opAtan2 = 22,
  opAvg = 23,
  opBof = 24,
  opCardinality = 25,
  opCaseConditions = 26,
  opCaseResults = 27,
  opCast = 28,
  opCeiling = 29,
  opCoalesce = 30,
  opColumnCount = 31,
  opColumnName = 32,
  opConcat = 33,
  opCos = 34,
  opCot = 35,
  opCount = 36,
  opCurrentComputer = 37,
  opCurrentDatabase = 38,
  opCurrentDate = 39,
  opCurrentGuid = 40,
  opCurrentTime = 41,
  opCurrentTimestamp = 42,
  opCurrentUser = 43,
  opCurrentVersion = 44,
  opDegrees = 45,
  opEof = 46,
  opErrorCode = 47,
  opErrorMsg = 48,
  opExists = 49,
  opExp = 50,
  opExtract = 51,
  opExtractDay = 52,
  opExtractDayOfWeek = 53,
  opExtractDayOfYear = 54,
  opExtractHour = 55,
  opExtractMinute = 56,
  opExtractMonth = 57,
  opExtractMSecond = 58,
  opExtractSecond = 59,
  opExtractWeek = 60,
  opExtractYear = 61,
  opFloor = 62,
  opCase = 63,
  opIfNull = 64,
  opIf = 65,
  opInTransaction = 66,
  opLastIdentity = 67,
  opLeft = 68,
  opLength = 69,
  opList = 70,
  opLoadingUpdates = 71,
  opLog = 72,
  opLog10 = 73,
  opLower = 74,
  opMax = 75,
  opMin = 76,
  opNullIf = 77,
  opOccurs = 78,
  opOperation = 79,
  opPi = 80,
  opPosition = 81,
  opPower = 82,
  opQuotedStr = 83,
  opRadians = 84,
  opRand = 85,
  opRepeat = 86,
  opReplace = 87,
  opRight = 88,
  opRound = 89,
  opRowCount = 90,
  opRowsAffected = 91,
  opRunSum = 92,
  opSensitive = 93,
  opSign = 94,
  opSin = 95,
  opSqrt = 96,
  opStdDev = 97,
  opStmtResult = 98,
  opSubstring = 99,
  opSum = 100,
  opSumSquare = 101,
  opTan = 102,
  opTrim = 103,
  opTrimBoth = 104,
  opTrimLeading = 105,
  opTrimTrailing = 106,
  opTruncate = 107,
  opUserFunction = 108,
  opUpper = 109,
  // Predicates.
  opBetween = 110,
  opContains = 111,
  opContainsAny = 112,
  opIn = 113,
  opIsNotNull = 114,
  opIsNull = 115,
  opLike = 116,
  opNotBetween = 117,
  opNotContain = 118,
  opNotContainAny = 119,
  opNotIn = 120,
  opNotLike = 121,
  // Query clauses.
  opAll = 122,
  opAscending = 123,
  opCollate = 124,
  opCorrelated = 125,
  opCrossJoin = 126,
  opDerivedTable = 127,
  opDescending = 128,
  opDistinct = 129,
  opExcept = 130,
  opExceptAll = 131,
  opInnerJoin = 132,
  opIntersect = 133,
  opIntersectAll = 134,
  opJoinOptimizeCosts = 135,
  opLeftJoin = 136,
  opNoJoinOptimize = 137,
  opRange = 138,
  opRightJoin = 139,
  opUnion = 140,
  opUnionAll = 141,
  opSubquery = 142,
  // Definition and block clauses.
  opAfterAll = 143,
  opAfterDelete = 144,
  opAfterInsert = 145,
  opAfterLoadUpdate = 146,
  opAfterUpdate = 147,
  opBeforeAll = 148,
  opBeforeDelete = 149,
  opBeforeInsert = 150,
  opBeforeLoadUpdate = 151,
  opBeforeUpdate = 152,
  opCascade = 153,
  opCheck = 154,
  opComputed = 155,
  opDefault = 156,
  opGeneratedByDefault = 157,
  opDropDefault = 158,
  opErrorAll = 159,
  opErrorDelete = 160,
  opErrorInsert = 161,
  opErrorLoadUpdate = 162,
  opErrorUpdate = 163,
  opForeignKey = 164,
  opGenerated = 165,
  opGeneratedIdentity = 166,
  opIfConditions = 167,
  opIfBranches = 168,
  opParamIn = 169,
  opParamInOut = 170,
  opMoveTo = 171,
  opBeginBlock = 172,
  opParamOut = 173,
  opPrimaryKey = 174,
  opRestartWith = 175,
  opRestrict = 176,
  opResultParam = 177,
  opDescription = 178,
  opSetColumn = 179,
  opSetNull = 180,
  opUnique = 181,
  // Procedural statements.
  opAbort = 182,
  opCall = 183,
  opCaseStatement = 184,
  opClose = 185,
  opCommit = 186,
  opDeclare = 187,
  opDeleteStatement = 188,
  opExecute = 189,
  opExecuteImmediate = 190,
  opFetch = 191,
  opIfStatement = 193,
  opInsertStatement = 194,
  opIterate = 195,
  opLeave = 196,
  opLoop = 197,
  opOpen = 198,
  opPrepare = 199,
  opRaise = 200,
  opRefresh = 201,
  opRepeatStatement = 202,
  opRetry = 203,
  opReturn = 204,
  opRollback = 205,
  opSetVariable = 206,
  opSetLogMessage = 207,
  opSetProgress = 208,
  opSetStatusMessage = 209,
  opStart = 210,
  opUnprepare = 211,
  opUpdateStatement = 212,
  opUse = 213,
  opWhile = 214,
  // SQL statements.
  opAlter = 215,
  opBackup = 216,
  opSetBackupsStore = 217,
  opCompare = 218,
  opCopyFile = 219,
  opCreate = 220,
  opDelete = 221,
  opDeleteFile = 222,
  opDisable = 223,
  opDisconnect = 224,
  opDrop = 225,
  opEmpty = 226,
  opEnable = 227,
  opExport = 228,
  opSetFilesStore = 229,
  opGrant = 230,
  opGrantPrivileges = 231,
  opGrantRoles = 232,
  opImport = 233,
  opInsert = 234,
  opLoadUpdates = 235,
  opMigrate = 236,
  opOptimize = 237,
  opPublish = 238,
  opRemove = 239,
  opRename = 240,
  opRenameFile = 241,
  opRepair = 242,
  opReset = 243,
  opRestore = 244,
  opRevoke = 245,
  opRevokePrivileges = 246,
  opRevokeRoles = 247,
  opSaveUpdates = 248,
  opSelect = 249,
  opSet = 250,
  opSetMigrator = 251,
  opUnpublish = 252,
  opUpdate = 253,
  opSetUpdatesStore = 254,
  opVerify = 255,
};

// Number of entries of the evaluator's routine table: one slot per operator
// (1-16), predicate (17-28) and function code (29-121).
inline constexpr int32_t EvaluationSlotCount = 121;

// What the rest of the language processor needs to know about one code.
struct TBRNOperationInfo {
  // Identifier of the code ("opAdd"); empty for the unused codes 0 and 192.
  std::string_view Name;
  // The node kind the code is made for. Definition clauses that sit on more
  // than one kind name the kind the grammar mostly puts them on.
  TBRNExprTokenKind Kind;
  // Every word that a parser keyword table maps to this code, separated by
  // one blank ("LENGTH CHAR_LENGTH CHARACTER_LENGTH"); empty when no keyword
  // table entry leads to it.
  std::string_view Keywords;
  // The canonical words the SQL text builder writes for the code: operator,
  // predicate and function words, set operations, join kinds and query
  // options; empty when the builder writes no word of its own.
  std::string_view BuilderWord;
  // Routine slot (1..EvaluationSlotCount) of the evaluator for operator,
  // predicate and function codes; 0 for every other code.
  uint8_t EvaluationSlot;
};

// The information of every code, indexed by the code. Read-only data; safe to
// read from any thread.
extern const std::array<TBRNOperationInfo, 256> OperationInfoTable;

inline const TBRNOperationInfo& OperationInfo(TBRNExprOperation Operation) {
  return OperationInfoTable[Operation];
}

// =, <>, >=, >, <= and <.
inline bool isComparisonOperation(TBRNExprOperation Operation) {
  switch (Operation) {
    case opEqual:
    case opNotEqual:
    case opGreaterOrEqual:
    case opGreater:
    case opLessOrEqual:
    case opLess:
      return true;
    default:
      return false;
  }
}

}  // namespace brn
