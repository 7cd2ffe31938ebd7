#pragma once

#include <cstdint>

namespace brn {

// The kind of object a CREATE, ALTER, DROP, RENAME, ENABLE, DISABLE or RESET
// statement names; stored in the statement node's Variant. The codes are
// part of the statement trees that other layers read, so they never change.
enum TBRNObjectKind : uint8_t {
  okNone = 0,
  okDatabase = 1,
  okFunction = 2,
  okIndex = 3,
  okJob = 4,
  okStore = 5,
  okMigrator = 6,
  okProcedure = 7,
  okRole = 8,
  okTable = 9,
  okTextFilter = 10,
  okTextIndex = 11,
  okTrigger = 12,
  okUser = 13,
  okView = 14,
  okWordGenerator = 15,
  okModule = 16,
  okServerSessionStatistics = 17,  // RESET only
};

}  // namespace brn
