#include "clientserver/transport/listening_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "clientserver/transport/socket_owner.h"
#include "clientserver/transport/socket_test_support.h"
#include "clientserver/transport/socket_thread.h"

namespace brn {
namespace {

using testing::BoundPort;
using testing::ConnectClient;
using testing::kTestWaitMs;
using testing::RoundTrip;
using testing::TEchoThread;
using testing::WaitUntil;

using Clients = std::vector<std::unique_ptr<TBRNClientSocketWrapper>>;

// The cached flags of the workers in list order.
std::vector<bool> Flags(size_t cached, size_t notCached) {
  std::vector<bool> flags(cached, true);
  flags.resize(cached + notCached, false);
  return flags;
}

// A listener on 127.0.0.1 with echo workers, counting what happens to them.
class CountingServer {
 public:
  explicit CountingServer(int32_t cacheSize) {
    listener.SetThreadCacheSize(cacheSize);
    listener.OnGetThread = [this](TBRNServerSocketWrapper*,
                                  std::unique_ptr<TBRNServerClientSocketWrapper>& connection,
                                  TBRNServerClientThread*& thread) {
      ++GetThreadCalls;
      thread = new TEchoThread(std::move(connection), [this](TEchoThread* worker) {
        std::lock_guard<std::mutex> guard(mutex_);
        servedBy_.push_back(worker);
      });
    };
    listener.OnThreadStart = [this](TBRNServerSocketWrapper*, TBRNServerClientThread*) { ++Starts; };
    listener.OnThreadStop = [this](TBRNServerSocketWrapper*, TBRNServerClientThread*) { ++Stops; };
    listener.Listen("", "127.0.0.1", true, 0, "");
  }

  // Opens count clients, each checked with a round trip, so that every one of
  // them holds a worker.
  Clients Connect(int32_t count) {
    Clients clients;
    for (int32_t i = 0; i < count; ++i) {
      clients.push_back(ConnectClient(BoundPort(listener)));
      EXPECT_TRUE(RoundTrip(*clients.back(), "abc"));
    }
    return clients;
  }

  bool IdleWorkers(size_t count) {
    return WaitUntil([&] {
      std::vector<TBRNServerClientThread*> threads = listener.GetThreads();
      return threads.size() == count &&
             std::all_of(threads.begin(), threads.end(), [](TBRNServerClientThread* thread) {
               return thread->GetWaiting();
             });
    });
  }

  std::vector<TBRNServerClientThread*> ServedBy() {
    std::lock_guard<std::mutex> guard(mutex_);
    return servedBy_;
  }

  std::vector<bool> CachedFlags() {
    std::vector<bool> flags;
    for (TBRNServerClientThread* thread : listener.GetThreads()) flags.push_back(thread->GetCached());
    return flags;
  }

  std::atomic<int32_t> GetThreadCalls{0};
  std::atomic<int32_t> Starts{0};
  std::atomic<int32_t> Stops{0};

 private:
  std::mutex mutex_;
  std::vector<TBRNServerClientThread*> servedBy_;

 public:
  // Last: closed first, while the counters above still exist.
  TBRNServerSocketWrapper listener;
};

TEST(WorkerCacheTest, TenOfTwelveWorkersWaitAndTheFirstIdleOneTakesTheNextConnection) {
  CountingServer server(10);
  Clients clients = server.Connect(12);
  std::vector<TBRNServerClientThread*> threads = server.listener.GetThreads();
  ASSERT_EQ(threads.size(), 12u);
  EXPECT_EQ(server.CachedFlags(), Flags(10, 2));
  clients.clear();
  ASSERT_TRUE(server.IdleWorkers(10));
  EXPECT_TRUE(WaitUntil([&] { return server.Stops == 2; }));
  std::vector<TBRNServerClientThread*> kept = server.listener.GetThreads();
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), threads.begin()));
  EXPECT_EQ(server.listener.GetConnectionCount(), 0);

  // Idle workers are taken in list order, without asking for a new one.
  Clients again = server.Connect(2);
  std::vector<TBRNServerClientThread*> served = server.ServedBy();
  ASSERT_EQ(served.size(), 14u);
  EXPECT_EQ(served[12], threads[0]);
  EXPECT_EQ(served[13], threads[1]);
  EXPECT_EQ(server.GetThreadCalls, 12);
  EXPECT_EQ(server.Starts, 12);
}

TEST(WorkerCacheTest, WithoutASuppliedWorkerAPlainOneEndsTheConnectionAndWaits) {
  for (bool declining : {false, true}) {
    SCOPED_TRACE(declining ? "OnGetThread declines" : "no OnGetThread");
    TBRNServerSocketWrapper listener;
    listener.SetThreadCacheSize(10);
    int32_t asked = 0;
    if (declining) {
      listener.OnGetThread = [&](TBRNServerSocketWrapper*, std::unique_ptr<TBRNServerClientSocketWrapper>&,
                                 TBRNServerClientThread*&) { ++asked; };
    }
    listener.Listen("", "127.0.0.1", true, 0, "");
    for (int round = 0; round < 2; ++round) {
      auto client = ConnectClient(BoundPort(listener));
      ASSERT_TRUE(client->WaitForReadable(kTestWaitMs));
      TBRNMemoryStream in;
      in.SetSize(4);
      EXPECT_EQ(client->ReceiveBuffer(in, 4), 0);
      ASSERT_TRUE(WaitUntil([&] {
        std::vector<TBRNServerClientThread*> threads = listener.GetThreads();
        return threads.size() == 1 && threads[0]->GetWaiting();
      }));
    }
    // The second connection went to the idle worker.
    EXPECT_EQ(asked, declining ? 1 : 0);
  }
}

TEST(WorkerCacheTest, ShrinkingEndsWorkersBeyondTheSizeAfterTheirNextConnection) {
  CountingServer server(10);
  server.Connect(10).clear();
  ASSERT_TRUE(server.IdleWorkers(10));

  server.listener.SetThreadCacheSize(3);
  EXPECT_EQ(server.CachedFlags(), Flags(3, 7));
  // Idle workers beyond the size keep waiting and still serve.
  EXPECT_EQ(server.listener.GetThreadCount(), 10);
  server.Connect(10).clear();
  EXPECT_EQ(server.GetThreadCalls, 10);
  ASSERT_TRUE(server.IdleWorkers(3));
  EXPECT_EQ(server.Stops, 7);

  // Growing leaves the flags; workers added later are cached up to the size.
  server.listener.SetThreadCacheSize(5);
  EXPECT_EQ(server.CachedFlags(), Flags(3, 0));
  server.Connect(6).clear();
  EXPECT_EQ(server.GetThreadCalls, 13);
  ASSERT_TRUE(server.IdleWorkers(5));
  EXPECT_EQ(server.Stops, 8);
}

TEST(WorkerCacheTest, CloseEndsEveryWorkerConnectionAndTheAcceptThreadQuickly) {
  CountingServer server(10);
  uint16_t port = BoundPort(server.listener);
  server.Connect(4).clear();
  ASSERT_TRUE(server.IdleWorkers(4));
  Clients clients = server.Connect(100);
  ASSERT_EQ(server.listener.GetThreadCount(), 100);
  ASSERT_EQ(server.listener.GetConnectionCount(), 100);

  auto start = std::chrono::steady_clock::now();
  server.listener.Close();
  // Far below any receive time-out the workers wait in, with room for a
  // busy machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(server.listener.GetOpen());
  EXPECT_EQ(server.listener.GetThreadCount(), 0);
  EXPECT_EQ(server.listener.GetConnectionCount(), 0);
  EXPECT_EQ(server.Starts, 100);
  EXPECT_EQ(server.Stops, 100);
  for (auto& client : clients) {
    ASSERT_TRUE(client->WaitForReadable(kTestWaitMs));
    TBRNMemoryStream in;
    in.SetSize(4);
    EXPECT_LE(client->ReceiveBuffer(in, 4), 0);
  }
  TBRNClientSocketWrapper late;
  EXPECT_THROW(late.Connect("", "127.0.0.1", true, port, ""), EBRNSocketException);

  // The same wrapper listens again.
  server.listener.Listen("", "127.0.0.1", true, 0, "");
  EXPECT_EQ(server.listener.GetThreadCacheSize(), 10);
  Clients more = server.Connect(1);
  EXPECT_EQ(server.Starts, 101);
}

TEST(WorkerCacheTest, AWorkerCannotCloseItsOwnListener) {
  TBRNServerSocketWrapper listener;
  std::atomic<int32_t> refused{0};
  testing::UseEchoWorkers(listener, [&](TEchoThread* worker) {
    try {
      worker->GetListener()->Close();
    } catch (const std::logic_error&) {
      ++refused;
    }
  });
  listener.Listen("", "127.0.0.1", true, 0, "");
  auto client = ConnectClient(BoundPort(listener));
  EXPECT_TRUE(RoundTrip(*client, "still served"));
  EXPECT_EQ(refused, 1);
  EXPECT_TRUE(listener.GetOpen());
}

// A connection type of the server's own.
class TTaggedConnection : public TBRNServerClientSocketWrapper {
 public:
  using TBRNServerClientSocketWrapper::TBRNServerClientSocketWrapper;
};

TEST(WorkerCacheTest, ConnectionEventsAndErrorsReachTheListener) {
  for (bool clearCode : {false, true}) {
    SCOPED_TRACE(clearCode ? "handler clears the code" : "error raised");
    CountingServer server(10);
    std::atomic<int32_t> created{0};
    server.listener.OnCreateConnection = [&](TBRNServerSocketWrapper* sender, int32_t handle,
                                             std::unique_ptr<TBRNServerClientSocketWrapper>& connection) {
      ++created;
      connection = std::make_unique<TTaggedConnection>(handle, sender);
    };
    std::atomic<TBRNSocketWrapper*> accepted{nullptr};
    server.listener.OnSocketEvent = [&](TBRNSocketWrapper*, TBRNSocketWrapper* argument,
                                        TBRNSocketEventKind kind) {
      if (kind == TBRNSocketEventKind::ConnectionAccepted) accepted = argument;
    };
    std::atomic<int32_t> errors{0};
    std::atomic<int32_t> disconnects{0};
    std::atomic<bool> tagged{false};
    server.listener.OnClientError = [&](TBRNServerSocketWrapper*, TBRNServerClientSocketWrapper* connection,
                                        TBRNSocketErrorKind kind, int32_t& code) {
      tagged = dynamic_cast<TTaggedConnection*>(connection) != nullptr;
      if (kind == TBRNSocketErrorKind::ReceiveFailed && code == ECONNRESET) ++errors;
      if (clearCode) code = 0;
    };
    server.listener.OnClientDisconnect = [&](TBRNServerSocketWrapper*, TBRNServerClientSocketWrapper*) {
      ++disconnects;
    };

    auto client = server.Connect(1);
    EXPECT_EQ(created, 1);
    EXPECT_NE(accepted.load(), nullptr);
    // The client resets the connection while the worker waits to receive.
    linger hard{1, 0};
    ::setsockopt(client[0]->GetHandle(), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    client[0]->Close();
    ASSERT_TRUE(WaitUntil([&] { return errors == 1 && disconnects == 1; }));
    EXPECT_TRUE(tagged);
    // A raised error ends even a cached worker quietly; a cleared one lets it
    // wait for the next connection.
    if (clearCode) {
      EXPECT_TRUE(server.IdleWorkers(1));
    } else {
      EXPECT_TRUE(WaitUntil([&] { return server.Stops == 1; }));
      EXPECT_EQ(server.listener.GetThreadCount(), 0);
    }
  }
}

TEST(WorkerCacheTest, LargeRoundTripsDoNotWaitForDelayedAcknowledgements) {
  // Both owners turn on TCP_NODELAY; without it the last piece of every
  // message over 64 KB waits about 40 ms for the peer's acknowledgement.
  TBRNServerSocket server;
  server.SetAddress("127.0.0.1");
  testing::UseEchoWorkers(server.GetWrapper());
  server.Open();
  TBRNClientSocket client;
  client.SetAddress("127.0.0.1");
  client.SetPort(BoundPort(server.GetWrapper()));
  client.Open();
  TBRNClientSocketWrapper& socket = client.GetWrapper();

  constexpr int32_t kMessage = 70 * 1024;
  TBRNMemoryStream out;
  out.SetSize(kMessage);
  for (int32_t i = 0; i < kMessage; ++i) out.GetMemory()[i] = uint8_t(i * 7);
  TBRNMemoryStream in;
  in.SetSize(kMessage);
  auto start = std::chrono::steady_clock::now();
  for (int trip = 0; trip < 100; ++trip) {
    out.SetPosition(0);
    in.SetPosition(0);
    ASSERT_TRUE(testing::SendAll(socket, out));
    ASSERT_TRUE(testing::ReceiveAll(socket, in));
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(std::memcmp(in.GetMemory(), out.GetMemory(), kMessage), 0);
  EXPECT_LT(elapsed, std::chrono::seconds(1));
}

// A listener that holds each connection until four bytes have come, with
// echo workers, counting workers started and connections ended.
struct HoldingListener {
  explicit HoldingListener(int32_t holdMs) {
    testing::UseEchoWorkers(listener);
    listener.OnThreadStart = [this](TBRNServerSocketWrapper*, TBRNServerClientThread*) {
      ++Starts;
    };
    listener.OnClientDisconnect = [this](TBRNServerSocketWrapper*, TBRNServerClientSocketWrapper*) {
      ++Disconnects;
    };
    listener.SetConnectionHold(holdMs, [](TBRNServerClientSocketWrapper& connection) {
      char head[4];
      return connection.PeekBuffer(head, 4) == 4;
    });
    listener.Listen("", "127.0.0.1", true, 0, "");
  }

  std::atomic<int32_t> Starts{0};
  std::atomic<int32_t> Disconnects{0};
  // Last: closed first, while the counters above still exist.
  TBRNServerSocketWrapper listener;
};

// true once the server has closed the client's connection (a reset, when
// bytes the server never read were left, counts).
bool ClosedByServer(TBRNClientSocketWrapper& client) {
  if (!client.WaitForReadable(kTestWaitMs)) return false;
  TBRNMemoryStream in;
  in.SetSize(16);
  try {
    return client.ReceiveBuffer(in, 16) <= 0;
  } catch (const EBRNSocketException&) {
    return true;
  }
}

TEST(HeldConnectionTest, AConnectionGetsAWorkerOnceItsClientHasSentEnough) {
  HoldingListener server(30000);
  EXPECT_THROW(server.listener.SetConnectionHold(0, nullptr), std::logic_error);
  auto client = ConnectClient(BoundPort(server.listener));
  ASSERT_TRUE(WaitUntil([&] { return server.listener.GetHeldCount() == 1; }));
  TBRNMemoryStream out;
  out.Write("ab", 2);
  out.SetPosition(0);
  ASSERT_TRUE(testing::SendAll(*client, out));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(server.listener.GetHeldCount(), 1);
  EXPECT_EQ(server.listener.GetThreadCount(), 0);
  EXPECT_EQ(server.listener.GetConnectionCount(), 1);

  // The check only peeked: the worker receives every byte.
  out.SetSize(0);
  out.Write("cd", 2);
  out.SetPosition(0);
  ASSERT_TRUE(testing::SendAll(*client, out));
  TBRNMemoryStream in;
  in.SetSize(4);
  ASSERT_TRUE(testing::ReceiveAll(*client, in));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.GetMemory()), 4), "abcd");
  EXPECT_EQ(server.listener.GetHeldCount(), 0);
  EXPECT_EQ(server.Starts, 1);
  EXPECT_TRUE(RoundTrip(*client, "served"));
}

TEST(HeldConnectionTest, ConnectionsThatNeverGetReadyAreClosedWithoutAWorker) {
  struct Case {
    const char* name;
    int32_t holdMs;
    std::function<void(TBRNClientSocketWrapper&, HoldingListener&)> act;
    // The server must not close before this.
    int32_t notBeforeMs;
  };
  const std::vector<Case> cases = {
      {"silent past the hold", 300, [](TBRNClientSocketWrapper&, HoldingListener&) {}, 250},
      {"the client sends a byte and finishes sending", 30000,
       [](TBRNClientSocketWrapper& client, HoldingListener&) {
         TBRNMemoryStream out;
         out.Write("a", 1);
         out.SetPosition(0);
         ASSERT_TRUE(testing::SendAll(client, out));
         ::shutdown(client.GetHandle(), SHUT_WR);
       },
       0},
      {"the listener closes", 30000,
       [](TBRNClientSocketWrapper&, HoldingListener& server) { server.listener.Close(); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HoldingListener server(c.holdMs);
    auto client = ConnectClient(BoundPort(server.listener));
    ASSERT_TRUE(WaitUntil([&] { return server.listener.GetHeldCount() == 1; }));
    auto start = std::chrono::steady_clock::now();
    c.act(*client, server);
    EXPECT_TRUE(ClosedByServer(*client));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.notBeforeMs));
    EXPECT_TRUE(WaitUntil([&] { return server.listener.GetConnectionCount() == 0; }));
    EXPECT_EQ(server.listener.GetHeldCount(), 0);
    EXPECT_EQ(server.Disconnects, 1);
    EXPECT_EQ(server.Starts, 0);
  }
}

}  // namespace
}  // namespace brn
