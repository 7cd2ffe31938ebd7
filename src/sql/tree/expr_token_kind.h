#pragma once

#include <cstdint>

namespace brn {

// What a syntax-tree node is. Together with the operation code it selects
// every behaviour downstream (validation, text building, evaluation). Kind 10
// is not produced by any construct.
enum TBRNExprTokenKind : uint8_t {
  tkNone = 0,                    // a fresh node whose kind is not yet set
  tkArrayVariable = 1,           // variable declared with ARRAY [size]
  tkArrayReference = 2,          // reference to a whole array variable
  tkArrayElement = 3,            // name[index]; argument 0 a list holding the index
  tkGranteeName = 4,             // user or role name in GRANT/REVOKE
  tkBackupName = 5,              // backup name
  tkOperator = 6,                // binary operator; Left and Right hold the operands
  tkBlock = 7,                   // BEGIN ... END block or plain statement list
  tkBlockSection = 8,            // declarations, statements, FINALLY or EXCEPTION section
  tkList = 9,                    // generic list or clause marker (operation names the clause)
  tkCollationName = 11,          // collation name after COLLATE
  tkColumnName = 12,             // column name in a definition
  tkColumnReference = 13,        // column reference (also the "*" wildcard)
  tkConstant = 14,               // literal constant; Text holds the literal
  tkConstraintName = 15,         // constraint name
  tkRoutineStatement = 16,       // procedural statement
  tkCursorDeclaration = 17,      // DECLARE ... CURSOR FOR ...
  tkCursorReference = 18,        // cursor name used by a statement
  tkDatabaseName = 19,           // database name
  tkDataType = 20,               // data type of a column, variable, parameter or CAST
  tkDynamicParam = 21,           // dynamic parameter definition made by the validator
  tkDynamicParamReference = 22,  // dynamic parameter marker "?"
  tkStatement = 23,              // SQL statement
  tkPredicate = 24,              // predicate; argument 0 the tested value
  tkFileName = 25,               // file name in a store
  tkFunction = 26,               // built-in or user-defined function call
  tkFunctionName = 27,           // function name; root of a FUNCTION routine
  tkIndexName = 28,              // index name
  tkJobName = 29,                // job name; root of a JOB routine
  tkJoin = 30,                   // join entry of a table reference
  tkOuterColumnReference = 31,   // column reference to a table of an outer query
  tkMigratorName = 32,           // migrator name
  tkModuleName = 33,             // module name
  tkRoutineParam = 34,           // routine parameter definition
  tkRoutineParamReference = 35,  // reference to a routine parameter
  tkPrivilege = 36,              // privilege word in GRANT/REVOKE
  tkProcedureName = 37,          // procedure name; root of a PROCEDURE routine
  tkRoutineCall = 38,            // CALL name(arguments)
  tkQuery = 39,                  // query expression; target of INSERT, UPDATE, DELETE
  tkRoleName = 40,               // role name
  tkRowColumnReference = 41,     // column of the trigger row "OldRow" or "NewRow"
  tkRowValue = 42,               // row value constructor (a, b, ...)
  tkRowVariable = 43,            // trigger row variable; Variant 0 old, 1 new
  tkScript = 44,                 // root of a SCRIPT routine
  tkSelectItem = 45,             // select-list item; argument 0 the expression
  tkOrderItem = 46,              // GROUP BY or ORDER BY item
  tkStatementName = 47,          // declared statement name
  tkStatementReference = 48,     // statement name used by PREPARE, EXECUTE, UNPREPARE
  tkStoreName = 49,              // store name
  tkTableName = 50,              // table name in a definition
  tkTableReference = 51,         // table reference in FROM or a statement target
  tkTextFilterName = 52,         // text filter name
  tkTriggerName = 53,            // trigger name; root of a TRIGGER routine
  tkUnaryOperator = 54,          // unary operator; Left holds the operand
  tkUpdatesName = 55,            // update file name
  tkUserName = 56,               // user name
  tkVariable = 57,               // declared variable name
  tkVariableReference = 58,      // variable reference
  tkViewName = 59,               // view name
  tkWordGeneratorName = 60,      // word generator name
};

}  // namespace brn
