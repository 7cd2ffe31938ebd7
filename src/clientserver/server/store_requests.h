#pragma once

#include <cstdint>

namespace brn {

class TBRNServerRequest;
class TBRNServerSessionManager;

// Request codes of the store file requests; each carries a store handle
// first.
inline constexpr int32_t kBRNListStoreFilesCode = 401;
inline constexpr int32_t kBRNBeginReadFileCode = 402;
inline constexpr int32_t kBRNReadFileCode = 403;
inline constexpr int32_t kBRNCancelReadFileCode = 404;
inline constexpr int32_t kBRNEndReadFileCode = 405;
inline constexpr int32_t kBRNBeginWriteFileCode = 406;
inline constexpr int32_t kBRNWriteFileCode = 407;
inline constexpr int32_t kBRNCancelWriteFileCode = 408;
inline constexpr int32_t kBRNEndWriteFileCode = 409;
inline constexpr int32_t kBRNCopyFileCode = 410;
inline constexpr int32_t kBRNRenameFileCode = 411;
inline constexpr int32_t kBRNDeleteFileCode = 412;

// The most bytes one Read File request may ask for, so that the reply (header,
// count, bytes and what compression may add) stays within maxMessageSize,
// the largest message the connection sends and accepts.
int32_t MaxReadFileCount(int32_t maxMessageSize);

// The handlers (registered by AddStoreRequestHandlers, request_dispatch.h);
// each calls the store operation of the same name on the store of the
// handle. They run on the connection thread that serves session, which
// holds the session's lock (or its outer request does).
void ServeListStoreFiles(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeBeginReadFile(TBRNServerRequest& request, TBRNServerSessionManager& session);
// Reads up to the requested count (capped by MaxReadFileCount) of the open
// file; the reply holds the count read, then exactly that many bytes.
void ServeReadFile(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeCancelReadFile(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeEndReadFile(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeBeginWriteFile(TBRNServerRequest& request, TBRNServerSessionManager& session);
// Writes the request's bytes to the open file: a count that is negative or
// larger than the bytes that follow it is an invalid request (1103), and
// nothing is written.
void ServeWriteFile(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeCancelWriteFile(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeEndWriteFile(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeCopyFile(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeRenameFile(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeDeleteFile(TBRNServerRequest& request, TBRNServerSessionManager& session);

}  // namespace brn
