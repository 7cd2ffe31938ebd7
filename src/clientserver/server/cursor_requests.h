#pragma once

#include <cstdint>

namespace brn {

class TBRNCursor;
class TBRNDatabaseManager;
class TBRNMemoryStream;
class TBRNServerRequest;
class TBRNServerSessionManager;

// Client versions (x 10000) from which requests and replies carry a field.
inline constexpr int64_t kBRNClientVersion102 = 10200;
inline constexpr int64_t kBRNClientVersion106 = 10600;
inline constexpr int64_t kBRNClientVersion201 = 20100;
inline constexpr int64_t kBRNClientVersion202 = 20200;
inline constexpr int64_t kBRNClientVersion203 = 20300;
inline constexpr int64_t kBRNClientVersion204 = 20400;
inline constexpr int64_t kBRNClientVersion205 = 20500;
inline constexpr int64_t kBRNClientVersion207 = 20700;
inline constexpr int64_t kBRNClientVersion208 = 20800;

// Gives cursor, registered in database's cursor table, the session-wide
// handle the client will name it by and starts what the server remembers of
// it. When no handle can be given the cursor is freed (the client could
// never free it) and the failure passes on. Precondition: the caller holds
// the session.
int32_t RegisterClientCursor(TBRNServerSessionManager& session, TBRNDatabaseManager& database,
                             TBRNCursor& cursor);

// Forgets the cursors handed to the client that their databases no longer
// hold (freed with a statement, a new execution or a database's close),
// so that their handles lead nowhere.
void DropStaleClientCursors(TBRNServerSessionManager& session);

// The cursor descriptors: the open-table form (reply of Open Table) and the
// result form (replies of executions). The metadata lists are written in
// the form clientVersion reads.
void WriteOpenTableDescriptor(TBRNMemoryStream& out, int32_t handle, TBRNCursor& cursor,
                              int64_t clientVersion);
void WriteResultDescriptor(TBRNMemoryStream& out, int32_t handle, TBRNCursor& cursor,
                           int64_t clientVersion);

}  // namespace brn
