#include "clientserver/transport/socket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/transport/socket_owner.h"
#include "clientserver/transport/socket_test_support.h"

namespace brn {
namespace {

using testing::BoundPort;
using testing::ConnectClient;
using testing::kTestWaitMs;
using testing::RoundTrip;
using testing::UseEchoWorkers;
using testing::WaitUntil;

// A listener on 127.0.0.1 whose connections are kept by the test instead of
// being served: Accepted() hands them out in order.
class PlainListener {
 public:
  PlainListener() {
    listener_.OnGetThread = [this](TBRNServerSocketWrapper*,
                                   std::unique_ptr<TBRNServerClientSocketWrapper>& connection,
                                   TBRNServerClientThread*& thread) {
      thread = new TKeepThread(std::move(connection), this);
    };
    listener_.Listen("", "127.0.0.1", true, 0, "");
  }

  uint16_t Port() { return BoundPort(listener_); }
  TBRNServerSocketWrapper& Listener() { return listener_; }

  // The next accepted connection; nullptr when none came in time.
  TBRNServerClientSocketWrapper* Accepted() {
    size_t index = taken_++;
    WaitUntil([&] {
      std::lock_guard<std::mutex> guard(mutex_);
      return connections_.size() > index;
    });
    std::lock_guard<std::mutex> guard(mutex_);
    return connections_.size() > index ? connections_[index] : nullptr;
  }

 private:
  // Holds its connection open until the listener closes.
  class TKeepThread : public TBRNServerClientThread {
   public:
    TKeepThread(std::unique_ptr<TBRNServerClientSocketWrapper> connection, PlainListener* owner)
        : TBRNServerClientThread(std::move(connection)), owner_(owner) {}
    ~TKeepThread() override { TerminateAndWait(); }

   protected:
    void ServeConnection() override {
      {
        std::lock_guard<std::mutex> guard(owner_->mutex_);
        owner_->connections_.push_back(GetConnection());
      }
      WaitUntil([&] { return bool(Terminated); });
    }

   private:
    PlainListener* owner_;
  };

  std::mutex mutex_;
  std::vector<TBRNServerClientSocketWrapper*> connections_;
  size_t taken_ = 0;
  TBRNServerSocketWrapper listener_;
};

std::string Text(TBRNMemoryStream& stream, int32_t count) {
  return std::string(reinterpret_cast<const char*>(stream.GetMemory()), size_t(count));
}

TEST(SocketAddressTest, ResolvesHostAddressAndService) {
  struct Case {
    const char* host;
    const char* address;
    uint16_t port;
    const char* service;
    uint32_t expectedAddr;
    uint16_t expectedPort;
  };
  const Case cases[] = {
      {"", "127.0.0.1", 1234, "", htonl(INADDR_LOOPBACK), 1234},
      {"localhost", "10.0.0.1", 1234, "", htonl(INADDR_LOOPBACK), 1234},  // the host wins
      {"no-such-host.invalid", "", 1234, "", 0, 1234},
      {"", "", 1234, "", 0, 1234},               // listening: any interface
      {"", "127.0.0.1", 1234, "http", htonl(INADDR_LOOPBACK), 80},  // the service wins
      {"", "127.0.0.1", 1234, "no-such-service", htonl(INADDR_LOOPBACK), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.host) + "|" + c.address + "|" + c.service);
    TBRNSocketAddress address = ResolveSocketAddress(c.host, c.address, false, c.port, c.service);
    EXPECT_EQ(address.Family, 2);
    EXPECT_EQ(address.Addr, c.expectedAddr);
    EXPECT_EQ(ntohs(address.Port), c.expectedPort);
  }
  try {
    ResolveSocketAddress("", "", true, 1234, "");
    FAIL() << "no exception";
  } catch (const EBRNSocketException& e) {
    EXPECT_STREQ(e.what(), "No socket address specified");
  }
}

TEST(SocketWrapperTest, ConnectWithoutAddressRaisesAndStaysClosed) {
  TBRNClientSocketWrapper client;
  try {
    client.Connect("", "", true, 1234, "");
    FAIL() << "no exception";
  } catch (const EBRNSocketException& e) {
    EXPECT_STREQ(e.what(), "No socket address specified");
  }
  EXPECT_FALSE(client.GetOpen());
  EXPECT_EQ(client.GetHandle(), -1);
}

TEST(SocketWrapperTest, ListenWithoutAddressBindsEveryInterface) {
  TBRNServerSocketWrapper listener;
  UseEchoWorkers(listener);
  listener.Listen("", "", true, 0, "");
  TBRNSocketAddress bound = listener.GetLocalAddress();
  EXPECT_EQ(bound.Addr, 0u);
  EXPECT_NE(bound.Port, 0);
  auto client = ConnectClient(BoundPort(listener));
  EXPECT_TRUE(RoundTrip(*client, "hello"));
  EXPECT_EQ(client->GetPeerAddress(), "127.0.0.1");
}

TEST(SocketWrapperTest, UnresolvedHostFailsInConnectAndNeverReachesALocalServer) {
  // Linux would take address 0 for this host: the listener must see nothing.
  PlainListener server;
  TBRNClientSocketWrapper client;
  try {
    client.Connect("no-such-host.invalid", "", true, server.Port(), "");
    FAIL() << "no exception";
  } catch (const EBRNSocketException& e) {
    EXPECT_STREQ(e.what(),
                 "Socket error: Cannot assign requested address (99), on API 'connect'");
  }
  EXPECT_FALSE(client.GetOpen());
  EXPECT_EQ(client.GetHandle(), -1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(server.Listener().GetConnectionCount(), 0);
}

TEST(SocketWrapperTest, RefusedConnectAndBusyPortGiveTheSocketErrorAndStayClosed) {
  uint16_t port;
  {
    TBRNServerSocketWrapper probe;
    probe.Listen("", "127.0.0.1", false, 0, "");
    port = BoundPort(probe);
  }
  TBRNClientSocketWrapper client;
  try {
    client.Connect("", "127.0.0.1", true, port, "");
    FAIL() << "no exception";
  } catch (const EBRNSocketException& e) {
    EXPECT_STREQ(e.what(), "Socket error: Connection refused (111), on API 'connect'");
  }
  EXPECT_FALSE(client.GetOpen());

  PlainListener server;
  TBRNServerSocketWrapper second;
  try {
    second.Listen("", "127.0.0.1", false, server.Port(), "");
    FAIL() << "no exception";
  } catch (const EBRNSocketException& e) {
    EXPECT_STREQ(e.what(), "Socket error: Address already in use (98), on API 'bind'");
  }
  EXPECT_FALSE(second.GetOpen());
  EXPECT_EQ(second.GetHandle(), -1);
}

TEST(SocketWrapperTest, OpenSocketsRefuseAnotherConnectOrListen) {
  PlainListener server;
  auto client = ConnectClient(server.Port());
  try {
    client->Connect("", "127.0.0.1", true, server.Port(), "");
    FAIL() << "no exception";
  } catch (const EBRNSocketException& e) {
    EXPECT_STREQ(e.what(), "Socket already open");
  }
  try {
    server.Listener().Listen("", "127.0.0.1", true, 0, "");
    FAIL() << "no exception";
  } catch (const EBRNSocketException& e) {
    EXPECT_STREQ(e.what(), "Cannot listen on an open socket");
  }
  EXPECT_TRUE(client->GetOpen());
  EXPECT_TRUE(server.Listener().GetOpen());
}

TEST(SocketWrapperTest, TransfersMoveTheStreamPositionAndSeeThePeersClose) {
  PlainListener server;
  auto client = ConnectClient(server.Port());
  TBRNServerClientSocketWrapper* accepted = server.Accepted();
  ASSERT_NE(accepted, nullptr);

  TBRNMemoryStream out;
  out.Write("..abcdef", 8);
  out.SetPosition(2);
  EXPECT_EQ(client->SendBuffer(out, 6), 6);
  EXPECT_EQ(out.GetPosition(), 8);

  TBRNMemoryStream in;
  in.SetSize(10);
  in.SetPosition(4);
  ASSERT_TRUE(accepted->WaitForReadable(kTestWaitMs));
  int32_t received = accepted->ReceiveBuffer(in, 6);
  ASSERT_GT(received, 0);
  EXPECT_EQ(in.GetPosition(), 4 + received);
  EXPECT_EQ(Text(in, 4 + received).substr(4), std::string("abcdef").substr(0, size_t(received)));

  // A range outside the stream is misuse, not a socket error.
  in.SetPosition(8);
  EXPECT_THROW(accepted->ReceiveBuffer(in, 3), std::out_of_range);
  EXPECT_THROW(client->SendBuffer(out, 1), std::out_of_range);
  EXPECT_TRUE(client->GetOpen());

  client->Close();
  EXPECT_FALSE(client->GetOpen());
  EXPECT_EQ(client->SendBuffer(out, 0), 0);
  EXPECT_EQ(client->GetPeerAddress(), "");
  EXPECT_FALSE(client->WaitForReadable(0));
  // The rest of the bytes, then the close.
  in.SetSize(64);
  in.SetPosition(0);
  int32_t rest = 6 - received;
  while (rest > 0) {
    ASSERT_TRUE(accepted->WaitForReadable(kTestWaitMs));
    int32_t n = accepted->ReceiveBuffer(in, rest);
    ASSERT_GT(n, 0);
    rest -= n;
  }
  ASSERT_TRUE(accepted->WaitForReadable(kTestWaitMs));
  in.SetPosition(0);
  EXPECT_EQ(accepted->ReceiveBuffer(in, 64), 0);
  EXPECT_EQ(in.GetPosition(), 0);
}

TEST(SocketWrapperTest, WaitForReadableTimesOutAndSeesData) {
  PlainListener server;
  auto client = ConnectClient(server.Port());
  TBRNServerClientSocketWrapper* accepted = server.Accepted();
  ASSERT_NE(accepted, nullptr);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(accepted->WaitForReadable(60));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(55));
  TBRNMemoryStream out;
  out.Write("x", 1);
  out.SetPosition(0);
  ASSERT_EQ(client->SendBuffer(out, 1), 1);
  EXPECT_TRUE(accepted->WaitForReadable(kTestWaitMs));
}

TEST(SocketWrapperTest, CloseFromAnotherThreadWakesABlockedWaitAndReceive) {
  for (bool receive : {false, true}) {
    SCOPED_TRACE(receive ? "receive" : "wait");
    PlainListener server;
    auto client = ConnectClient(server.Port());
    ASSERT_NE(server.Accepted(), nullptr);
    std::atomic<bool> done{false};
    int32_t result = -2;
    bool readable = false;
    std::thread blocked([&] {
      if (receive) {
        TBRNMemoryStream in;
        in.SetSize(16);
        result = client->ReceiveBuffer(in, 16);
      } else {
        readable = client->WaitForReadable(-1);
      }
      done = true;
    });
    // Long enough for the thread to block even on a busy machine: a close
    // before the wait begins would test something else.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    client->Close();
    EXPECT_TRUE(WaitUntil([&] { return bool(done); }, 2000));
    blocked.join();
    if (receive) {
      EXPECT_EQ(result, 0);
    } else {
      EXPECT_TRUE(readable);
    }
    EXPECT_FALSE(client->GetOpen());
  }
}

TEST(SocketWrapperTest, FailedTransfersCloseTheSocketAndReachTheErrorHandler) {
  struct Case {
    const char* name;
    bool send;
    bool clearCode;
    const char* message;  // nullptr: no exception, result -1
  };
  const Case cases[] = {
      {"send raises", true, false, "Socket error: Broken pipe (32), on API 'send'"},
      {"send cleared", true, true, nullptr},
      {"recv raises", false, false, "Socket error: Connection reset by peer (104), on API 'recv'"},
      {"recv cleared", false, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlainListener server;
    auto client = ConnectClient(server.Port());
    TBRNServerClientSocketWrapper* accepted = server.Accepted();
    ASSERT_NE(accepted, nullptr);
    if (c.send) {
      // Writing after our own shutdown fails with EPIPE, without a signal.
      ::shutdown(client->GetHandle(), SHUT_WR);
    } else {
      // The peer resets the connection.
      linger hard{1, 0};
      ::setsockopt(accepted->GetHandle(), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
      accepted->Close();
      ASSERT_TRUE(client->WaitForReadable(kTestWaitMs));
    }
    std::vector<std::pair<TBRNSocketErrorKind, int32_t>> errors;
    client->OnSocketError = [&](TBRNSocketWrapper* sender, TBRNSocketErrorKind kind, int32_t& code) {
      EXPECT_EQ(sender, client.get());
      errors.emplace_back(kind, code);
      if (c.clearCode) code = 0;
    };
    TBRNMemoryStream buffer;
    buffer.SetSize(4);
    auto transfer = [&] { return c.send ? client->SendBuffer(buffer, 4) : client->ReceiveBuffer(buffer, 4); };
    if (c.message != nullptr) {
      try {
        transfer();
        FAIL() << "no exception";
      } catch (const EBRNSocketException& e) {
        EXPECT_STREQ(e.what(), c.message);
      }
    } else {
      EXPECT_EQ(transfer(), -1);
    }
    int32_t expectedCode = c.send ? EPIPE : ECONNRESET;
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, c.send ? TBRNSocketErrorKind::SendFailed : TBRNSocketErrorKind::ReceiveFailed);
    EXPECT_EQ(errors[0].second, expectedCode);
    EXPECT_EQ(client->LastError.load(), expectedCode);
    EXPECT_FALSE(client->GetOpen());
    EXPECT_EQ(client->GetHandle(), -1);
    EXPECT_EQ(buffer.GetPosition(), 0);
    // The next call sees a closed wrapper and moves nothing.
    EXPECT_EQ(transfer(), 0);
  }
}

TEST(SocketOwnerTest, ClientEventsFollowTheConnectionAndBothEndsSetNoDelay) {
  TBRNServerSocket server;
  server.SetAddress("127.0.0.1");
  UseEchoWorkers(server.GetWrapper());
  std::vector<std::string> serverEvents;
  server.OnListen = [&](TBRNCustomSocket*, TBRNSocketWrapper*) { serverEvents.push_back("listen"); };
  server.OnDisconnect = [&](TBRNCustomSocket*, TBRNSocketWrapper*) { serverEvents.push_back("disconnect"); };
  std::atomic<int32_t> accepted{0};
  std::atomic<int32_t> acceptedNoDelay{0};
  server.OnAccept = [&](TBRNCustomSocket*, TBRNSocketWrapper* connection) {
    int flag = 0;
    socklen_t length = sizeof(flag);
    ::getsockopt(connection->GetHandle(), IPPROTO_TCP, TCP_NODELAY, &flag, &length);
    acceptedNoDelay = flag;
    ++accepted;
  };
  server.Open();
  EXPECT_TRUE(server.GetOpen());

  TBRNClientSocket client;
  client.SetAddress("127.0.0.1");
  client.SetPort(BoundPort(server.GetWrapper()));
  std::vector<std::string> clientEvents;
  client.OnConnecting = [&](TBRNCustomSocket*, TBRNSocketWrapper*) { clientEvents.push_back("connecting"); };
  client.OnConnect = [&](TBRNCustomSocket*, TBRNSocketWrapper*) { clientEvents.push_back("connect"); };
  client.OnDisconnect = [&](TBRNCustomSocket*, TBRNSocketWrapper*) { clientEvents.push_back("disconnect"); };
  client.Open();
  EXPECT_TRUE(client.GetOpen());
  int flag = 0;
  socklen_t length = sizeof(flag);
  ::getsockopt(client.GetWrapper().GetHandle(), IPPROTO_TCP, TCP_NODELAY, &flag, &length);
  EXPECT_EQ(flag, 1);
  EXPECT_TRUE(RoundTrip(client.GetWrapper(), "ping"));
  EXPECT_EQ(accepted.load(), 1);
  EXPECT_EQ(acceptedNoDelay.load(), 1);
  client.Open();  // already open: nothing
  client.Close();
  client.Close();
  EXPECT_FALSE(client.GetOpen());
  EXPECT_EQ(clientEvents, (std::vector<std::string>{"connecting", "connect", "disconnect"}));
  server.Close();
  EXPECT_FALSE(server.GetOpen());
  EXPECT_EQ(serverEvents, (std::vector<std::string>{"listen", "disconnect"}));
}

TEST(SocketOwnerTest, SettersRefuseNewValuesWhileOpen) {
  TBRNServerSocket server;
  server.SetAddress("127.0.0.1");
  server.SetService("");
  server.Open();
  const std::function<void()> sameValue[] = {
      [&] { server.SetAddress("127.0.0.1"); },
      [&] { server.SetHost(""); },
      [&] { server.SetPort(0); },
      [&] { server.SetService(""); },
  };
  for (const auto& set : sameValue) EXPECT_NO_THROW(set());
  const std::function<void()> newValue[] = {
      [&] { server.SetAddress("127.0.0.2"); },
      [&] { server.SetHost("localhost"); },
      [&] { server.SetPort(1); },
      [&] { server.SetService("http"); },
  };
  for (const auto& set : newValue) {
    try {
      set();
      ADD_FAILURE() << "no exception";
    } catch (const EBRNSocketException& e) {
      EXPECT_STREQ(e.what(), "Cannot perform this operation when the socket is open");
    }
  }
  EXPECT_EQ(server.GetAddress(), "127.0.0.1");
  EXPECT_EQ(server.GetPort(), 0);
  server.Close();
  server.SetPort(1);
  server.SetService("http");
  EXPECT_EQ(server.GetPort(), 1);
  EXPECT_EQ(server.GetService(), "http");
}

}  // namespace
}  // namespace brn
