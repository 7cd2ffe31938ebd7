#pragma once

#include <cstdint>
#include <string_view>

namespace brn {

// One numbering for every session, database, store, cursor, statement,
// procedure and script request: the request code on the wire, the operation
// of a log event and the key of its display name.
using TBRNOperationCode = int32_t;

// The display name of an operation code; codes without a name give "None".
std::string_view OperationName(TBRNOperationCode code);

}  // namespace brn
