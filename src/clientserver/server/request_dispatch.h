#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "clientserver/transport/session_request_codes.h"
#include "sessions/session_manager.h"

namespace brn {

class TBRNCommsMemoryStream;
class TBRNCommsRequest;
class TBRNDatabaseManager;
class TBRNServerEngineManager;
class TBRNServerSessionManager;
class TBRNServerThread;
class TBRNStoreManager;
class TBRNStringsList;

// Result codes of the server's replies.
inline constexpr int32_t kBRNReplyOk = 0;
inline constexpr int32_t kBRNInvalidRequestCode = 1103;
inline constexpr const char* kBRNInvalidRequestMessage =
    "An invalid or unknown request was sent to the server";
// The result code of an error reply for a failure that is not an engine
// error.
inline constexpr int32_t kBRNNonEngineErrorCode = 9999;
// Client versions (x 10000) from which error replies carry line and column.
inline constexpr int64_t kBRNErrorPositionVersion = 10900;

// What the server tells a connecting client it is.
inline constexpr const char* kBRNServerEdition = "BRNMZTRAQEL";

// A request that does not fit its code: a field runs past the end of the
// message, a count or length is negative or beyond its cap, or a handle names
// no object of the session. The dispatcher answers it with the invalid-request
// reply (1103) and nothing else happens in that request.
class EBRNInvalidRequest : public std::runtime_error {
 public:
  EBRNInvalidRequest() : std::runtime_error(kBRNInvalidRequestMessage) {}
};

// One request being served: the received message to read (positioned after
// the header when the handler starts) and the reply to write.
//
// A handler reads its fields in wire order with the Read methods, which
// check every field against the bytes that remain and raise
// EBRNInvalidRequest for a short or malformed request, so a handler never
// acts on half a request when it reads everything before it acts. It looks
// its target up with the ReadXxxHandle methods (EBRNInvalidRequest for an
// unknown handle). It then calls BeginReply, which starts the reply with
// result code 0, and writes its reply fields into the returned stream
// (WriteInteger, WriteInt64, WriteString, WriteBoolean, WriteByte,
// WriteDouble of the memory stream). A handler with no reply fields may skip
// BeginReply: an empty reply with code 0 is sent. The dispatcher packs the
// reply; an exception that leaves the handler replaces whatever it began
// with the error reply.
//
// Used by the connection thread that serves it only.
// An object behind a session-wide handle, with that handle and the
// database whose table holds it.
template <typename T>
struct TBRNIndexedTarget {
  int32_t Handle;
  T& Object;
  TBRNDatabaseManager* Database;
};

class TBRNServerRequest {
 public:
  TBRNServerRequest(TBRNServerThread& thread, TBRNCommsRequest& comms);
  TBRNServerRequest(const TBRNServerRequest&) = delete;
  TBRNServerRequest& operator=(const TBRNServerRequest&) = delete;

  TBRNServerThread& GetThread() const { return *thread_; }
  TBRNServerEngineManager& GetEngine() const;
  TBRNCommsRequest& GetComms() const { return *comms_; }
  // The request code.
  int32_t GetCode() const;
  // The received message (header included); the handler reads from its
  // position.
  TBRNCommsMemoryStream& Input() const;
  // Bytes of the request not read yet.
  int32_t GetRemaining() const;

  int32_t ReadInt32();
  uint32_t ReadUInt32();
  int64_t ReadInt64();
  bool ReadBoolean();
  uint8_t ReadByte();
  double ReadDouble();
  // An int32 byte count, then the characters; the count must fit the bytes
  // that remain (and maxLength when it is not negative).
  std::string ReadString(int32_t maxLength = -1);
  // The int32 at the position without consuming it (0 when fewer than four
  // bytes remain).
  int32_t PeekInt32() const;
  // Raises EBRNInvalidRequest unless at least count bytes remain (count >= 0).
  void Require(int32_t count) const;

  // Read an int32 handle and return the session's open object under it
  // (EBRNInvalidRequest for a handle of none, or of a closed one). The
  // session is the one the request is served for.
  TBRNDatabaseManager& ReadDatabaseHandle(TBRNServerSessionManager& session);
  TBRNStoreManager& ReadStoreHandle(TBRNServerSessionManager& session);
  // Read an int32 session-wide handle of index (the session's statements,
  // procedures, scripts or cursors) and return what it leads to, which
  // must be of kind T (EBRNInvalidRequest otherwise).
  template <typename T>
  TBRNIndexedTarget<T> ReadIndexedHandle(const TBRNSessionHandleIndex& index);

  // The version the client announced at connect (x 10000).
  int64_t GetClientVersion() const;

  // Starts (or starts again) the reply with result code 0 and returns the
  // stream to write the reply fields into.
  TBRNCommsMemoryStream& BeginReply();
  bool GetReplyBegun() const { return replyBegun_; }

  // Set by a handler that freed the session it was given (Logout); the
  // dispatcher then neither unlocks nor touches it again.
  bool SessionFreed = false;

 private:
  friend class TBRNServerThread;

  TBRNServerThread* thread_;
  TBRNCommsRequest* comms_;
  bool replyBegun_ = false;
};

template <typename T>
TBRNIndexedTarget<T> TBRNServerRequest::ReadIndexedHandle(const TBRNSessionHandleIndex& index) {
  const int32_t handle = ReadInt32();
  auto* found = dynamic_cast<T*>(index.Find(handle));
  if (found == nullptr) throw EBRNInvalidRequest();
  return {handle, *found, index.GetTarget(handle).Database};
}

// A request handler: reads the request, works on the session (locked by the
// dispatcher for this thread, unless the request is nested in a callback of
// an outer request that holds the lock) and writes the reply.
using TBRNServerRequestHandler = void (*)(TBRNServerRequest& request,
                                          TBRNServerSessionManager& session);

// The handlers by request code. Built once, then only read, by any thread.
class TBRNServerRequestTable {
 public:
  // std::logic_error for a code that has a handler already.
  void Add(int32_t code, TBRNServerRequestHandler handler);
  // nullptr for a code without handler.
  TBRNServerRequestHandler Find(int32_t code) const;

 private:
  std::unordered_map<int32_t, TBRNServerRequestHandler> handlers_;
};

// The table of every request the server serves under a session; built on
// first use.
const TBRNServerRequestTable& GetServerRequestTable();

// Each request area adds its handlers (defined with the handlers).
void AddSessionRequestHandlers(TBRNServerRequestTable& table);
void AddStoreRequestHandlers(TBRNServerRequestTable& table);
void AddDatabaseRequestHandlers(TBRNServerRequestTable& table);
void AddCursorRequestHandlers(TBRNServerRequestTable& table);

// Whether a request with this code may run nested, while the same thread
// waits for the answer to a callback of an outer request: false for the
// requests that log out, close, free, prepare, execute or change a
// transaction, which would free or change what the outer request is using.
bool IsNestableRequest(int32_t code);

// The address matches at least one pattern of authorized and none of
// blocked ("*" any run of characters, not case-sensitive, no escape); an
// empty authorized list allows nothing.
bool IsAddressAllowed(const TBRNStringsList& authorized, const TBRNStringsList& blocked,
                      const std::string& address);

}  // namespace brn
