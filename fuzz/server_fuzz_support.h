// The set-up the fuzzers of a server connection share: a server engine in
// memory, a transport that only frames messages, serving bytes to a
// connection thread over a socket pair, and checking that what came back
// is whole frames. Used from the fuzzer's one thread (the connection thread
// and the drainer are joined before Serve returns).
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/server/connection_thread.h"
#include "clientserver/server/server_engine_manager.h"
#include "clientserver/server/server_session.h"
#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/listening_socket.h"
#include "foundation/files/memory_file_manager.h"
#include "foundation/locks/compression.h"
#include "foundation/text/environment.h"
#include "foundation/text/string_list.h"
#include "fuzz_support.h"
#include "sessions/engine_settings.h"

namespace brn::fuzz {

// A server engine whose configuration, databases and stores live in its
// own memory; the listener binds an ephemeral port of 127.0.0.1 and is never
// connected to.
class ScratchServer : public TBRNServerEngineManager {
 public:
  ScratchServer() {
    CreateFileManagers();
    Settings->SetConfigPath("/config");
    ServerAddress = "127.0.0.1";
    ServerPort = 0;
    ServerAuthorizedAddresses->Add("*");
    JobTimerInterval = 0;
    SweepTimerEnabled = false;
  }
  std::unique_ptr<TBRNFileManager> CreateFileManager() override {
    return std::make_unique<TBRNMemoryFileManager>(Environment.get());
  }
};

// Frames messages without a socket; events never happen.
class FramingTransport : public TBRNCommsManager {
 public:
  using TBRNCommsManager::TBRNCommsManager;
  void DoReceiveTimeout(bool&) override { Fail("time-out without a socket"); }
  void DoSendProgress(int32_t, int32_t) override {}
  void DoReceiveProgress(int32_t, int32_t) override {}
  void DoConnectionError(const std::string&) override { Fail("connection error without a socket"); }
};

inline bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= size_t(written);
  }
  return true;
}

// Every server session left in the table (logged-in ones stay dead) goes.
inline void RemoveServerSessions(TBRNServerEngineManager& server) {
  std::vector<int32_t> ids;
  int32_t position = 0;
  TBRNEngineSessionManager* session = nullptr;
  while (server.NextServerSession(position, session, 0, false, 1, 0)) {
    if (dynamic_cast<TBRNServerSessionManager*>(session) != nullptr) ids.push_back(session->Handle);
    ++position;
  }
  for (int32_t id : ids) server.RemoveServerSession(id);
}

// Serves wire on a new connection thread of server over a socket pair,
// shutting the client's side for writing once it is sent, until the server
// closes the connection; answers every byte it sent back.
inline std::string Serve(TBRNServerEngineManager& server, const std::string& wire) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) Fail("socketpair");
  std::string replies;
  {
    TBRNServerSocketWrapper listener;
    auto connection = std::make_unique<TBRNServerClientSocketWrapper>(fds[0], &listener);
    auto* thread = new TBRNServerThread(&server, std::move(connection));
    thread->Resume();
    std::thread drainer([&replies, fd = fds[1]] {
      char buffer[65536];
      for (;;) {
        ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        replies.append(buffer, size_t(got));
      }
    });
    WriteAll(fds[1], reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
    ::shutdown(fds[1], SHUT_WR);
    drainer.join();
    // Joins and frees the connection thread.
    listener.Close();
  }
  ::close(fds[1]);
  return replies;
}

// The result codes of the replies in bytes, which must be whole frames one
// after the other.
inline std::vector<int32_t> ReplyCodes(TBRNServerEngineManager& server,
                                       TBRNCompressionManager& compression,
                                       const std::string& bytes) {
  FramingTransport reader(*server.Environment, compression, *server.Settings);
  reader.MaxMessageSize = kBRNCommsSizeLimit - 8;
  std::unique_ptr<TBRNCommsRequest> request = reader.AcquireRequest();
  size_t offset = 0;
  std::vector<int32_t> codes;
  while (offset < bytes.size()) {
    if (bytes.size() - offset < size_t(kBRNCommsHeaderSize)) Fail("a reply cut in its header");
    TBRNCommsMemoryStream& message = request->Incoming;
    message.Reset();
    message.SetPosition(0);
    message.Write(bytes.data() + offset, kBRNCommsHeaderSize);
    try {
      message.ReadHeader();
    } catch (const EBRNCommsException&) {
      Fail("a reply with a bad header");
    }
    codes.push_back(message.Code);
    if (bytes.size() - offset < size_t(message.PaddedSize)) Fail("a reply cut in its payload");
    offset += size_t(message.PaddedSize);
  }
  reader.ReleaseRequest(std::move(request));
  return codes;
}

}  // namespace brn::fuzz
