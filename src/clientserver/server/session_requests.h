#pragma once

#include <cstdint>

namespace brn {

class TBRNServerRequest;
class TBRNServerSessionManager;

// Request codes of the session requests served under the session lock.
inline constexpr int32_t kBRNOpenDatabaseCode = 33;
inline constexpr int32_t kBRNCloseDatabaseCode = 34;
inline constexpr int32_t kBRNOpenStoreCode = 38;
inline constexpr int32_t kBRNCloseStoreCode = 39;
inline constexpr int32_t kBRNGetServerNameCode = 300;
inline constexpr int32_t kBRNGetServerDescriptionCode = 301;
inline constexpr int32_t kBRNGetServerDateTimeCode = 303;
inline constexpr int32_t kBRNGetServerUTCDateTimeCode = 304;
inline constexpr int32_t kBRNUserDefinedRequestCode = 10000;

// The longest user name and password a login request may carry; anything
// longer is refused before the engine sees it.
inline constexpr int32_t kBRNMaxLoginFieldLength = 40;
inline constexpr const char* kBRNLoginNotAllowed = "Login not allowed";

// The handlers (registered by AddSessionRequestHandlers, request_dispatch.h).
// Each runs on the connection thread that serves session, which holds the
// session's lock (or its outer request does).

// Login to Session (3): user name and password of at most 40 characters,
// the host's login callback, the client's login prompt, then the login.
// Error 501 "Login failed (Login not allowed)" for a refusal.
void ServeLogin(TBRNServerRequest& request, TBRNServerSessionManager& session);
// Logout from Session (4): logs out, detaches (which closes the connection),
// closes and frees the session; no reply reaches the client.
void ServeLogout(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeOpenDatabase(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeCloseDatabase(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeOpenStore(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeCloseStore(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeGetServerName(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeGetServerDescription(TBRNServerRequest& request, TBRNServerSessionManager& session);
// The server's clock as a day number with the fraction of the day (day 0 is
// 30 December 1899), in local time or in UTC.
void ServeGetServerDateTime(TBRNServerRequest& request, TBRNServerSessionManager& session);
void ServeGetServerUTCDateTime(TBRNServerRequest& request, TBRNServerSessionManager& session);
// User-Defined Request (10000): procedure name and parameter list go to the
// engine's procedure callback; the reply holds the output values (the ones
// the client sent when no callback changes them).
void ServeUserDefinedRequest(TBRNServerRequest& request, TBRNServerSessionManager& session);

}  // namespace brn
