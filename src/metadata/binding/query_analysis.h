#pragma once

#include <cstdint>

// The names and limits of the Internal indexes that a query's result table
// gets (the analyses themselves are TBRNCatalog members, see catalog.h).

namespace brn {

inline constexpr const char* kGroupByIndexName = "__GroupBy";
inline constexpr const char* kDistinctIndexName = "__Distinct";
inline constexpr const char* kOrderByIndexName = "__OrderBy";
// The most list items an index of a result table takes.
inline constexpr int32_t kMaxGroupByIndexColumns = 256;
inline constexpr int32_t kMaxOrderByIndexColumns = 256;
inline constexpr int32_t kMaxDistinctIndexColumns = 128;

}  // namespace brn
