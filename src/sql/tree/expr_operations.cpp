#include "sql/tree/expr_operations.h"

namespace brn {

// One row per code, indexed by the code: name, node kind, the keyword-table
// words that lead to it, the builder's word and the evaluator's routine slot.
// clang-format off
const std::array<TBRNOperationInfo, 256> OperationInfoTable = {{
    {"", tkNone, "", "", 0},  // 0
    {"opAdd", tkOperator, "", "+", 1},  // 1
    {"opAnd", tkOperator, "", "AND", 2},  // 2
    {"opDivide", tkOperator, "", "/", 3},  // 3
    {"opEqual", tkOperator, "", "=", 4},  // 4
    {"opGreaterOrEqual", tkOperator, "", ">=", 5},  // 5
    {"opGreater", tkOperator, "", ">", 6},  // 6
    {"opLessOrEqual", tkOperator, "", "<=", 7},  // 7
    {"opLess", tkOperator, "", "<", 8},  // 8
    {"opMod", tkOperator, "", "MOD", 9},  // 9
    {"opMultiply", tkOperator, "", "*", 10},  // 10
    {"opNotEqual", tkOperator, "", "<>", 11},  // 11
    {"opNegate", tkUnaryOperator, "", "-", 12},  // 12
    {"opNot", tkUnaryOperator, "", "NOT", 13},  // 13
    {"opOr", tkOperator, "", "OR", 14},  // 14
    {"opSubtract", tkOperator, "", "-", 15},  // 15
    {"opIntervalDifference", tkOperator, "", "-", 16},  // 16
    {"opAborted", tkFunction, "ABORTED", "ABORTED", 29},  // 17
    {"opAbs", tkFunction, "ABS", "ABS", 30},  // 18
    {"opAcos", tkFunction, "ACOS", "ACOS", 31},  // 19
    {"opAsin", tkFunction, "ASIN", "ASIN", 32},  // 20
    {"opAtan", tkFunction, "ATAN", "ATAN", 33},  // 21
    {"opAtan2", tkFunction, "ATAN2", "ATAN2", 34},  // 22
    {"opAvg", tkFunction, "AVG", "AVG", 35},  // 23
    {"opBof", tkFunction, "BOF", "BOF", 36},  // 24
    {"opCardinality", tkFunction, "CARDINALITY", "CARDINALITY", 37},  // 25
    {"opCaseConditions", tkFunction, "", "", 38},  // 26
    {"opCaseResults", tkFunction, "", "", 39},  // 27
    {"opCast", tkFunction, "CAST", "CAST", 40},  // 28
    {"opCeiling", tkFunction, "CEIL CEILING", "CEILING", 41},  // 29
    {"opCoalesce", tkFunction, "COALESCE", "COALESCE", 42},  // 30
    {"opColumnCount", tkFunction, "COLUMNCOUNT", "COLUMNCOUNT", 43},  // 31
    {"opColumnName", tkFunction, "COLUMNNAME", "COLUMNNAME", 44},  // 32
    {"opConcat", tkFunction, "CONCAT", "CONCAT", 45},  // 33
    {"opCos", tkFunction, "COS", "COS", 46},  // 34
    {"opCot", tkFunction, "COT", "COT", 47},  // 35
    {"opCount", tkFunction, "COUNT", "COUNT", 48},  // 36
    {"opCurrentComputer", tkFunction, "CURRENT_COMPUTER", "CURRENT_COMPUTER", 49},  // 37
    {"opCurrentDatabase", tkFunction, "CURRENT_DATABASE", "CURRENT_DATABASE", 50},  // 38
    {"opCurrentDate", tkFunction, "CURRENT_DATE", "CURRENT_DATE", 51},  // 39
    {"opCurrentGuid", tkFunction, "CURRENT_GUID", "CURRENT_GUID", 52},  // 40
    {"opCurrentTime", tkFunction, "CURRENT_TIME", "CURRENT_TIME", 53},  // 41
    {"opCurrentTimestamp", tkFunction, "CURRENT_TIMESTAMP", "CURRENT_TIMESTAMP", 54},  // 42
    {"opCurrentUser", tkFunction, "CURRENT_USER", "CURRENT_USER", 55},  // 43
    {"opCurrentVersion", tkFunction, "CURRENT_VERSION", "CURRENT_VERSION", 56},  // 44
    {"opDegrees", tkFunction, "DEGREES", "DEGREES", 57},  // 45
    {"opEof", tkFunction, "EOF", "EOF", 58},  // 46
    {"opErrorCode", tkFunction, "ERRORCODE", "ERRORCODE", 59},  // 47
    {"opErrorMsg", tkFunction, "ERRORMSG", "ERRORMSG", 60},  // 48
    {"opExists", tkFunction, "EXISTS", "EXISTS", 61},  // 49
    {"opExp", tkFunction, "EXP", "EXP", 62},  // 50
    {"opExtract", tkFunction, "EXTRACT", "EXTRACT", 63},  // 51
    {"opExtractDay", tkFunction, "", "EXTRACT", 64},  // 52
    {"opExtractDayOfWeek", tkFunction, "", "EXTRACT", 65},  // 53
    {"opExtractDayOfYear", tkFunction, "", "EXTRACT", 66},  // 54
    {"opExtractHour", tkFunction, "", "EXTRACT", 67},  // 55
    {"opExtractMinute", tkFunction, "", "EXTRACT", 68},  // 56
    {"opExtractMonth", tkFunction, "", "EXTRACT", 69},  // 57
    {"opExtractMSecond", tkFunction, "", "EXTRACT", 70},  // 58
    {"opExtractSecond", tkFunction, "", "EXTRACT", 71},  // 59
    {"opExtractWeek", tkFunction, "", "EXTRACT", 72},  // 60
    {"opExtractYear", tkFunction, "", "EXTRACT", 73},  // 61
    {"opFloor", tkFunction, "FLOOR", "FLOOR", 74},  // 62
    {"opCase", tkFunction, "CASE", "CASE", 75},  // 63
    {"opIfNull", tkFunction, "IFNULL", "IFNULL", 76},  // 64
    {"opIf", tkFunction, "IF", "IF", 77},  // 65
    {"opInTransaction", tkFunction, "INTRANSACTION", "INTRANSACTION", 78},  // 66
    {"opLastIdentity", tkFunction, "LASTIDENTITY", "LASTIDENTITY", 79},  // 67
    {"opLeft", tkFunction, "LEFT", "LEFT", 80},  // 68
    {"opLength", tkFunction, "LENGTH CHAR_LENGTH CHARACTER_LENGTH", "LENGTH", 81},  // 69
    {"opList", tkFunction, "LIST", "LIST", 82},  // 70
    {"opLoadingUpdates", tkFunction, "LOADINGUPDATES", "LOADINGUPDATES", 83},  // 71
    {"opLog", tkFunction, "LOG LN", "LOG", 84},  // 72
    {"opLog10", tkFunction, "LOG10", "LOG10", 85},  // 73
    {"opLower", tkFunction, "LOWER LCASE", "LOWER", 86},  // 74
    {"opMax", tkFunction, "MAX", "MAX", 87},  // 75
    {"opMin", tkFunction, "MIN", "MIN", 88},  // 76
    {"opNullIf", tkFunction, "NULLIF", "NULLIF", 89},  // 77
    {"opOccurs", tkFunction, "OCCURS", "OCCURS", 90},  // 78
    {"opOperation", tkFunction, "OPERATION", "OPERATION", 91},  // 79
    {"opPi", tkFunction, "PI", "PI", 92},  // 80
    {"opPosition", tkFunction, "POSITION POS", "POS", 93},  // 81
    {"opPower", tkFunction, "POWER", "POWER", 94},  // 82
    {"opQuotedStr", tkFunction, "QUOTEDSTR", "QUOTEDSTR", 95},  // 83
    {"opRadians", tkFunction, "RADIANS", "RADIANS", 96},  // 84
    {"opRand", tkFunction, "RAND", "RAND", 97},  // 85
    {"opRepeat", tkFunction, "REPEAT", "REPEAT", 98},  // 86
    {"opReplace", tkFunction, "REPLACE", "REPLACE", 99},  // 87
    {"opRight", tkFunction, "RIGHT", "RIGHT", 100},  // 88
    {"opRound", tkFunction, "ROUND", "ROUND", 101},  // 89
    {"opRowCount", tkFunction, "ROWCOUNT", "ROWCOUNT", 102},  // 90
    {"opRowsAffected", tkFunction, "ROWSAFFECTED", "ROWSAFFECTED", 103},  // 91
    {"opRunSum", tkFunction, "RUNSUM", "RUNSUM", 104},  // 92
    {"opSensitive", tkFunction, "SENSITIVE", "SENSITIVE", 105},  // 93
    {"opSign", tkFunction, "SIGN", "SIGN", 106},  // 94
    {"opSin", tkFunction, "SIN", "SIN", 107},  // 95
    {"opSqrt", tkFunction, "SQRT", "SQRT", 108},  // 96
    {"opStdDev", tkFunction, "STDDEV", "STDDEV", 109},  // 97
    {"opStmtResult", tkFunction, "STMTRESULT", "STMTRESULT", 110},  // 98
    {"opSubstring", tkFunction, "SUBSTRING SUBSTR", "SUBSTRING", 111},  // 99
    {"opSum", tkFunction, "SUM", "SUM", 112},  // 100
    {"opSumSquare", tkFunction, "", "SUMSQUARE", 113},  // 101
    {"opTan", tkFunction, "TAN", "TAN", 114},  // 102
    {"opTrim", tkFunction, "TRIM", "TRIM", 115},  // 103
    {"opTrimBoth", tkFunction, "ALLTRIM", "TRIM", 116},  // 104
    {"opTrimLeading", tkFunction, "LTRIM", "TRIM", 117},  // 105
    {"opTrimTrailing", tkFunction, "RTRIM", "TRIM", 118},  // 106
    {"opTruncate", tkFunction, "TRUNC TRUNCATE", "TRUNCATE", 119},  // 107
    {"opUserFunction", tkFunction, "", "", 120},  // 108
    {"opUpper", tkFunction, "UPPER UCASE", "UPPER", 121},  // 109
    {"opBetween", tkPredicate, "", "BETWEEN", 17},  // 110
    {"opContains", tkPredicate, "", "CONTAINS", 18},  // 111
    {"opContainsAny", tkPredicate, "", "CONTAINS ANY", 19},  // 112
    {"opIn", tkPredicate, "", "IN", 20},  // 113
    {"opIsNotNull", tkPredicate, "", "IS NOT NULL", 21},  // 114
    {"opIsNull", tkPredicate, "", "IS NULL", 22},  // 115
    {"opLike", tkPredicate, "", "LIKE", 23},  // 116
    {"opNotBetween", tkPredicate, "", "NOT BETWEEN", 24},  // 117
    {"opNotContain", tkPredicate, "", "DOES NOT CONTAIN", 25},  // 118
    {"opNotContainAny", tkPredicate, "", "DOES NOT CONTAIN ANY", 26},  // 119
    {"opNotIn", tkPredicate, "", "NOT IN", 27},  // 120
    {"opNotLike", tkPredicate, "", "NOT LIKE", 28},  // 121
    {"opAll", tkList, "", "ALL", 0},  // 122
    {"opAscending", tkList, "", "ASC", 0},  // 123
    {"opCollate", tkList, "", "COLLATE", 0},  // 124
    {"opCorrelated", tkQuery, "", "", 0},  // 125
    {"opCrossJoin", tkJoin, "", "", 0},  // 126
    {"opDerivedTable", tkTableReference, "", "", 0},  // 127
    {"opDescending", tkList, "", "DESC", 0},  // 128
    {"opDistinct", tkList, "", "DISTINCT", 0},  // 129
    {"opExcept", tkList, "", "EXCEPT", 0},  // 130
    {"opExceptAll", tkList, "", "EXCEPT ALL", 0},  // 131
    {"opInnerJoin", tkJoin, "", "INNER JOIN", 0},  // 132
    {"opIntersect", tkList, "", "INTERSECT", 0},  // 133
    {"opIntersectAll", tkList, "", "INTERSECT ALL", 0},  // 134
    {"opJoinOptimizeCosts", tkList, "", "JOINOPTIMIZECOSTS", 0},  // 135
    {"opLeftJoin", tkJoin, "", "LEFT OUTER JOIN", 0},  // 136
    {"opNoJoinOptimize", tkList, "", "NOJOINOPTIMIZE", 0},  // 137
    {"opRange", tkList, "", "RANGE", 0},  // 138
    {"opRightJoin", tkJoin, "", "RIGHT OUTER JOIN", 0},  // 139
    {"opUnion", tkList, "", "UNION", 0},  // 140
    {"opUnionAll", tkList, "", "UNION ALL", 0},  // 141
    {"opSubquery", tkQuery, "", "", 0},  // 142
    {"opAfterAll", tkTriggerName, "", "", 0},  // 143
    {"opAfterDelete", tkTriggerName, "", "", 0},  // 144
    {"opAfterInsert", tkTriggerName, "", "", 0},  // 145
    {"opAfterLoadUpdate", tkTriggerName, "", "", 0},  // 146
    {"opAfterUpdate", tkTriggerName, "", "", 0},  // 147
    {"opBeforeAll", tkTriggerName, "", "", 0},  // 148
    {"opBeforeDelete", tkTriggerName, "", "", 0},  // 149
    {"opBeforeInsert", tkTriggerName, "", "", 0},  // 150
    {"opBeforeLoadUpdate", tkTriggerName, "", "", 0},  // 151
    {"opBeforeUpdate", tkTriggerName, "", "", 0},  // 152
    {"opCascade", tkList, "", "", 0},  // 153
    {"opCheck", tkConstraintName, "", "", 0},  // 154
    {"opComputed", tkList, "", "", 0},  // 155
    {"opDefault", tkList, "", "", 0},  // 156
    {"opGeneratedByDefault", tkList, "", "", 0},  // 157
    {"opDropDefault", tkColumnName, "", "", 0},  // 158
    {"opErrorAll", tkTriggerName, "", "", 0},  // 159
    {"opErrorDelete", tkTriggerName, "", "", 0},  // 160
    {"opErrorInsert", tkTriggerName, "", "", 0},  // 161
    {"opErrorLoadUpdate", tkTriggerName, "", "", 0},  // 162
    {"opErrorUpdate", tkTriggerName, "", "", 0},  // 163
    {"opForeignKey", tkConstraintName, "", "", 0},  // 164
    {"opGenerated", tkList, "", "", 0},  // 165
    {"opGeneratedIdentity", tkList, "", "", 0},  // 166
    {"opIfConditions", tkList, "", "", 0},  // 167
    {"opIfBranches", tkList, "", "", 0},  // 168
    {"opParamIn", tkRoutineParam, "", "", 0},  // 169
    {"opParamInOut", tkRoutineParam, "", "", 0},  // 170
    {"opMoveTo", tkColumnName, "", "", 0},  // 171
    {"opBeginBlock", tkBlock, "", "", 0},  // 172
    {"opParamOut", tkRoutineParam, "", "", 0},  // 173
    {"opPrimaryKey", tkConstraintName, "", "", 0},  // 174
    {"opRestartWith", tkColumnName, "", "", 0},  // 175
    {"opRestrict", tkList, "", "", 0},  // 176
    {"opResultParam", tkRoutineParam, "", "", 0},  // 177
    {"opDescription", tkColumnName, "", "", 0},  // 178
    {"opSetColumn", tkColumnName, "", "", 0},  // 179
    {"opSetNull", tkList, "", "", 0},  // 180
    {"opUnique", tkConstraintName, "", "", 0},  // 181
    {"opAbort", tkRoutineStatement, "ABORT", "", 0},  // 182
    {"opCall", tkRoutineStatement, "CALL", "", 0},  // 183
    {"opCaseStatement", tkRoutineStatement, "CASE", "", 0},  // 184
    {"opClose", tkRoutineStatement, "CLOSE", "", 0},  // 185
    {"opCommit", tkRoutineStatement, "COMMIT", "", 0},  // 186
    {"opDeclare", tkRoutineStatement, "DECLARE", "", 0},  // 187
    {"opDeleteStatement", tkRoutineStatement, "DELETE", "", 0},  // 188
    {"opExecute", tkRoutineStatement, "EXECUTE", "", 0},  // 189
    {"opExecuteImmediate", tkRoutineStatement, "", "", 0},  // 190
    {"opFetch", tkRoutineStatement, "FETCH", "", 0},  // 191
    {"", tkNone, "", "", 0},  // 192
    {"opIfStatement", tkRoutineStatement, "IF", "", 0},  // 193
    {"opInsertStatement", tkRoutineStatement, "INSERT", "", 0},  // 194
    {"opIterate", tkRoutineStatement, "ITERATE", "", 0},  // 195
    {"opLeave", tkRoutineStatement, "LEAVE", "", 0},  // 196
    {"opLoop", tkRoutineStatement, "LOOP", "", 0},  // 197
    {"opOpen", tkRoutineStatement, "OPEN", "", 0},  // 198
    {"opPrepare", tkRoutineStatement, "PREPARE", "", 0},  // 199
    {"opRaise", tkRoutineStatement, "RAISE", "", 0},  // 200
    {"opRefresh", tkRoutineStatement, "REFRESH", "", 0},  // 201
    {"opRepeatStatement", tkRoutineStatement, "REPEAT", "", 0},  // 202
    {"opRetry", tkRoutineStatement, "RETRY", "", 0},  // 203
    {"opReturn", tkRoutineStatement, "", "", 0},  // 204
    {"opRollback", tkRoutineStatement, "ROLLBACK", "", 0},  // 205
    {"opSetVariable", tkRoutineStatement, "SET", "", 0},  // 206
    {"opSetLogMessage", tkRoutineStatement, "", "", 0},  // 207
    {"opSetProgress", tkRoutineStatement, "", "", 0},  // 208
    {"opSetStatusMessage", tkRoutineStatement, "", "", 0},  // 209
    {"opStart", tkRoutineStatement, "START", "", 0},  // 210
    {"opUnprepare", tkRoutineStatement, "UNPREPARE", "", 0},  // 211
    {"opUpdateStatement", tkRoutineStatement, "UPDATE", "", 0},  // 212
    {"opUse", tkRoutineStatement, "USE", "", 0},  // 213
    {"opWhile", tkRoutineStatement, "WHILE", "", 0},  // 214
    {"opAlter", tkStatement, "ALTER", "", 0},  // 215
    {"opBackup", tkStatement, "BACKUP", "", 0},  // 216
    {"opSetBackupsStore", tkStatement, "", "", 0},  // 217
    {"opCompare", tkStatement, "COMPARE", "", 0},  // 218
    {"opCopyFile", tkStatement, "COPY", "", 0},  // 219
    {"opCreate", tkStatement, "CREATE", "", 0},  // 220
    {"opDelete", tkStatement, "DELETE", "DELETE", 0},  // 221
    {"opDeleteFile", tkStatement, "", "", 0},  // 222
    {"opDisable", tkStatement, "DISABLE", "", 0},  // 223
    {"opDisconnect", tkStatement, "DISCONNECT", "", 0},  // 224
    {"opDrop", tkStatement, "DROP", "", 0},  // 225
    {"opEmpty", tkStatement, "EMPTY", "", 0},  // 226
    {"opEnable", tkStatement, "ENABLE", "", 0},  // 227
    {"opExport", tkStatement, "EXPORT", "", 0},  // 228
    {"opSetFilesStore", tkStatement, "", "", 0},  // 229
    {"opGrant", tkStatement, "GRANT", "", 0},  // 230
    {"opGrantPrivileges", tkStatement, "", "", 0},  // 231
    {"opGrantRoles", tkStatement, "", "", 0},  // 232
    {"opImport", tkStatement, "IMPORT", "", 0},  // 233
    {"opInsert", tkStatement, "INSERT", "INSERT", 0},  // 234
    {"opLoadUpdates", tkStatement, "LOAD", "", 0},  // 235
    {"opMigrate", tkStatement, "MIGRATE", "", 0},  // 236
    {"opOptimize", tkStatement, "OPTIMIZE", "", 0},  // 237
    {"opPublish", tkStatement, "PUBLISH", "", 0},  // 238
    {"opRemove", tkStatement, "REMOVE", "", 0},  // 239
    {"opRename", tkStatement, "RENAME", "", 0},  // 240
    {"opRenameFile", tkStatement, "", "", 0},  // 241
    {"opRepair", tkStatement, "REPAIR", "", 0},  // 242
    {"opReset", tkStatement, "RESET", "", 0},  // 243
    {"opRestore", tkStatement, "RESTORE", "", 0},  // 244
    {"opRevoke", tkStatement, "REVOKE", "", 0},  // 245
    {"opRevokePrivileges", tkStatement, "", "", 0},  // 246
    {"opRevokeRoles", tkStatement, "", "", 0},  // 247
    {"opSaveUpdates", tkStatement, "SAVE", "", 0},  // 248
    {"opSelect", tkStatement, "SELECT TABLE", "", 0},  // 249
    {"opSet", tkStatement, "SET", "", 0},  // 250
    {"opSetMigrator", tkStatement, "", "", 0},  // 251
    {"opUnpublish", tkStatement, "UNPUBLISH", "", 0},  // 252
    {"opUpdate", tkStatement, "UPDATE", "UPDATE", 0},  // 253
    {"opSetUpdatesStore", tkStatement, "", "", 0},  // 254
    {"opVerify", tkStatement, "VERIFY", "", 0},  // 255
}};
// clang-format on

}  // namespace brn
