#pragma once

#include <cstdint>

namespace brn {

// The context flags that every parse method takes: what the construct being
// parsed allows. Each method passes on the flags it received, minus or plus
// the bits its construct calls for.
using TBRNParseFlags = uint32_t;

inline constexpr TBRNParseFlags pcAggregates = 0x00000001;          // aggregate functions
inline constexpr TBRNParseFlags pcWildcard = 0x00000002;            // "*" or "t.*"
inline constexpr TBRNParseFlags pcDynamicParams = 0x00000004;       // "?" markers
inline constexpr TBRNParseFlags pcOutputParams = 0x00000008;        // OUT and INOUT parameters
inline constexpr TBRNParseFlags pcNoParamList = 0x00000010;         // no routine parameter list
inline constexpr TBRNParseFlags pcSubqueryParams = 0x00000020;      // subqueries take "?"
inline constexpr TBRNParseFlags pcQueries = 0x00000040;             // SELECT and TABLE
inline constexpr TBRNParseFlags pcDatabaseOperations = 0x00000080;  // USE in procedural code
inline constexpr TBRNParseFlags pcExceptionHandling = 0x00000100;   // inside an exception handler
inline constexpr TBRNParseFlags pcDatabaseQualifier = 0x00000200;   // database.table
inline constexpr TBRNParseFlags pcSchemaQualifier = 0x00000400;     // schema.table
inline constexpr TBRNParseFlags pcColumnQualifier = 0x00000800;     // table.column kept
inline constexpr TBRNParseFlags pcResultCursors = 0x00001000;       // cursors WITH RETURN
inline constexpr TBRNParseFlags pcColumnListRequired = 0x00002000;  // constraint column list
inline constexpr TBRNParseFlags pcNoColumnList = 0x00004000;        // no constraint column list
inline constexpr TBRNParseFlags pcOrdering = 0x00008000;            // ASC / DESC may follow
inline constexpr TBRNParseFlags pcDeclarations = 0x00010000;        // DECLARE statements
inline constexpr TBRNParseFlags pcTerminator = 0x00020000;          // terminator required
inline constexpr TBRNParseFlags pcReturn = 0x00040000;              // RETURN at the end of a block
inline constexpr TBRNParseFlags pcNoUserFunctions = 0x00080000;     // user functions refused
inline constexpr TBRNParseFlags pcNoOrderBy = 0x00100000;     // right operand of a set operation
inline constexpr TBRNParseFlags pcBeginBlock = 0x00200000;    // BEGIN ... END block
inline constexpr TBRNParseFlags pcNoCollate = 0x00400000;     // no COLLATE after a column
inline constexpr TBRNParseFlags pcContains = 0x00800000;      // CONTAINS operators
inline constexpr TBRNParseFlags pcEndOfText = 0x01000000;     // END must end the text
inline constexpr TBRNParseFlags pcRetry = 0x02000000;         // RETRY
inline constexpr TBRNParseFlags pcInto = 0x04000000;          // INTO clause in a query
inline constexpr TBRNParseFlags pcNotNullEnds = 0x08000000;   // NOT NULL ends (defaults)
inline constexpr TBRNParseFlags pcNoRange = 0x10000000;       // RANGE refused
inline constexpr TBRNParseFlags pcRowValues = 0x20000000;     // row value constructors
inline constexpr TBRNParseFlags pcRowValue = 0x40000000;      // "(x)" is a row value
inline constexpr TBRNParseFlags pcLiteralNames = 0x80000000;  // routine text of old versions

}  // namespace brn
