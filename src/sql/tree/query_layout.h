#pragma once

#include <cstdint>

namespace brn {

// Argument positions of a tkQuery node. Positions 0 to 11 always exist (nil
// where the clause is not written); the optional markers follow from 12 on,
// each only when written, in the order RANGE, NOJOINOPTIMIZE,
// JOINOPTIMIZECOSTS. The targets of INSERT, UPDATE and DELETE use the same
// node, so that a consumer finds the table and the condition at the same
// places as in a query.
enum TBRNQueryPosition : int32_t {
  qpParameters = 0,    // tkList of the dynamic parameter definitions (validator)
  qpSetOperation = 1,  // tkList whose operation joins this query to the one before
  qpSelectList = 2,    // tkList opDistinct / opAll of tkSelectItem; INSERT columns; UPDATE targets
  qpValues = 3,        // nil in a query; INSERT VALUES, UPDATE values
  qpSourceQuery = 4,   // nil in a query; the source query of INSERT ... SELECT
  qpInto = 5,          // tkList of INTO targets
  qpFrom = 6,          // tkList of tkTableReference in textual order
  qpWhere = 7,         // tkList holding the condition (absent on an INSERT target)
  qpGroupBy = 8,       // tkList of tkOrderItem
  qpHaving = 9,        // the condition itself
  qpSetOperand = 10,   // the right operand of a set operation (a tkQuery)
  qpOrderBy = 11,      // tkList of tkOrderItem
  qpFixedCount = 12,   // positions every parsed query has
};

// Argument positions of a tkTableReference in a FROM list.
enum TBRNTableReferencePosition : int32_t {
  trDerivedQuery = 0,  // the query of a derived table (operation opDerivedTable), else nil
  trConditions = 1,    // tkList of the conditions on this table alone (validator)
  trJoins = 2,         // tkList of the tkJoin entries of the tables joined after it
};

}  // namespace brn
