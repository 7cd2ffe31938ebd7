#pragma once

#include <cstdint>

namespace brn {

// Request codes of the session requests that a connection thread serves
// itself and that the remote session sends: both ends must agree on them,
// so they are defined once here.
inline constexpr int32_t kBRNConnectSessionCode = 2;
inline constexpr int32_t kBRNLoginSessionCode = 3;
inline constexpr int32_t kBRNLogoutSessionCode = 4;
inline constexpr int32_t kBRNReconnectSessionCode = 5;
inline constexpr int32_t kBRNPingServerCode = 800;

}  // namespace brn
