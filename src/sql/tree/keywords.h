#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "sql/tree/expr_operations.h"

namespace brn {

// A word of a parser keyword table and the operation code it maps to.
struct TBRNKeywordEntry {
  std::string_view Word;
  TBRNExprOperation Operation;
};

// The dialect's vocabulary: constant tables of upper-case words, each sorted
// ascending under the binary collation with case ignored, which the binary
// search of LookupKeyword relies on. Read-only; safe from any thread.

// Function names; each maps to a function code.
extern const std::array<TBRNKeywordEntry, 88> FunctionKeywords;
// Statement verbs; each maps to a statement code.
extern const std::array<TBRNKeywordEntry, 32> StatementKeywords;
// Procedural keywords; each maps to a procedural statement code.
extern const std::array<TBRNKeywordEntry, 27> RoutineStatementKeywords;

// Word lists that the grammar does not search (it matches its keywords in
// context).
extern const std::array<std::string_view, 276> ReservedWords;
extern const std::array<std::string_view, 64> StatementTypeNames;
extern const std::array<std::string_view, 35> DataTypeWords;
extern const std::array<std::string_view, 3> CharacterSetNames;    // "Unknown", "ANSI", "Unicode"
extern const std::array<std::string_view, 3> BooleanAndNullWords;  // "FALSE", "NULL", "TRUE"

// The operation code of Word in Table (binary search, case ignored), or
// opNone when the word is not there.
TBRNExprOperation LookupKeyword(std::span<const TBRNKeywordEntry> Table, std::string_view Word);

}  // namespace brn
