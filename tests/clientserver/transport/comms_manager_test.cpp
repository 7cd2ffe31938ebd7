// Messages moved by transports over loopback TCP connections: whole
// exchanges, large messages in pieces with progress, receive time-outs and
// broken or hostile headers from a raw peer.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/comms_test_support.h"
#include "clientserver/transport/socket.h"
#include "clientserver/transport/socket_test_support.h"
#include "foundation/core/byte_order.h"

namespace brn {
namespace {

using test::ConnectionError;
using test::RecordingTransport;
using test::TransportOwner;

std::vector<uint8_t> payloadBytes(int32_t size) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  uint32_t x = 12345;
  for (int32_t i = 0; i < size; ++i) {
    // Half letters, half noise, so that compression has work but gains.
    x = x * 1103515245u + 12345u;
    bytes[size_t(i)] = (i & 64) ? uint8_t(x >> 24) : uint8_t('a' + i % 26);
  }
  return bytes;
}

std::vector<uint8_t> payloadOf(const TBRNCommsMemoryStream& stream) {
  return {stream.GetMemory() + kBRNCommsHeaderSize, stream.GetMemory() + stream.GetSize()};
}

// Two connected sockets on 127.0.0.1 (port 0), TCP_NODELAY on both.
struct SocketPair {
  SocketPair() {
    TBRNSocketWrapper listener;
    listener.Listen("", "127.0.0.1", true, 0, "");
    Client = std::make_unique<TBRNClientSocketWrapper>();
    Client->Connect("", "127.0.0.1", true, testing::BoundPort(listener), "");
    int32_t handle = listener.Accept();
    if (handle < 0) throw std::runtime_error("accept failed");
    Server = std::make_unique<TBRNSocketWrapper>(handle);
    int one = 1;
    setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  }

  std::unique_ptr<TBRNClientSocketWrapper> Client;
  std::unique_ptr<TBRNSocketWrapper> Server;
};

class CommsManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_ = owner_.MakeTransport();
    server_ = owner_.MakeTransport();
    server_->AdoptPeerLevel = true;
    client_->ReceiveTimeout = 5;
    server_->ReceiveTimeout = 5;
    client_->AttachSocket(sockets_.Client.get());
    server_->AttachSocket(sockets_.Server.get());
  }

  // A packed message of the client transport.
  std::unique_ptr<TBRNCommsRequest> packed(RecordingTransport& transport, int32_t code,
                                           const std::vector<uint8_t>& payload) {
    std::unique_ptr<TBRNCommsRequest> request = transport.AcquireRequest();
    transport.BeginRequest(*request, code);
    if (!payload.empty()) {
      transport.RequestStream(*request).Write(payload.data(), int32_t(payload.size()));
    }
    transport.PackRequest(*request);
    return request;
  }

  // The wire bytes of a message packed by a fresh transport.
  std::vector<uint8_t> wireBytes(int32_t code, const std::vector<uint8_t>& payload) {
    std::unique_ptr<RecordingTransport> transport = owner_.MakeTransport();
    std::unique_ptr<TBRNCommsRequest> request = packed(*transport, code, payload);
    TBRNCommsMemoryStream& message = request->Outgoing;
    return {message.GetMemory(), message.GetMemory() + message.GetSize()};
  }

  // Writes bytes raw from the client's socket.
  void sendRaw(const uint8_t* data, size_t size) {
    TBRNMemoryStream stream;
    stream.Write(data, int32_t(size));
    stream.SetPosition(0);
    ASSERT_TRUE(testing::SendAll(*sockets_.Client, stream));
  }

  TransportOwner owner_;
  SocketPair sockets_;
  std::unique_ptr<RecordingTransport> client_;
  std::unique_ptr<RecordingTransport> server_;
};

// A request crosses and its reply comes back in the same request object at
// the level the client asked for, plain or encrypted, small or large (a
// large message needs the peer reading while it is sent).
TEST_F(CommsManagerTest, RequestAndReplyCross) {
  struct Case {
    int32_t Level;
    bool Encrypted;
    int32_t Code;
    int32_t Size;
  };
  const Case cases[] = {{0, false, 7, 100}, {6, false, 7, 100},     {6, true, 7, 2000},
                        {0, false, 3, 20},  {0, false, 7, 5 << 20}, {6, true, 7, 5 << 20},
                        {1, false, 7, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Level) + (c.Encrypted ? " encrypted " : " plain ") +
                 std::to_string(c.Size));
    client_->CompressionLevel = c.Level;
    client_->Encrypted = c.Encrypted;
    server_->Encrypted = c.Encrypted;
    std::vector<uint8_t> payload = payloadBytes(c.Size);
    std::vector<uint8_t> reply = payloadBytes(c.Size / 2 + 3000);

    std::thread serverThread([&] {
      std::unique_ptr<TBRNCommsRequest> request;
      bool continueReceiving = false;
      server_->ReceiveCommsMessage(request, continueReceiving);
      EXPECT_TRUE(continueReceiving);
      ASSERT_TRUE(request);
      server_->UnpackReply(*request);
      EXPECT_EQ(request->Incoming.Code, c.Code);
      EXPECT_EQ(payloadOf(request->Incoming), payload);
      EXPECT_EQ(request->Level, c.Level);
      server_->BeginRequest(*request, 0);
      server_->RequestStream(*request).Write(reply.data(), int32_t(reply.size()));
      server_->PackRequest(*request);
      EXPECT_EQ(request->Outgoing.CompressionCode, c.Level);
      server_->SendCommsMessage(*request);
      server_->ReleaseRequest(std::move(request));
    });
    std::unique_ptr<TBRNCommsRequest> request = packed(*client_, c.Code, payload);
    client_->SendCommsMessage(*request);
    bool continueReceiving = false;
    client_->ReceiveCommsMessage(request, continueReceiving);
    serverThread.join();
    EXPECT_TRUE(continueReceiving);
    client_->UnpackReply(*request);
    EXPECT_EQ(request->Incoming.Code, 0);
    EXPECT_EQ(payloadOf(request->Incoming), reply);
    client_->ReleaseRequest(std::move(request));
  }
  EXPECT_TRUE(client_->GetErrors().empty());
  EXPECT_TRUE(server_->GetErrors().empty());
}

// A 5 MB message goes in pieces of at most 64 KiB while the peer reads
// slowly; between the begin and end reports progress comes at most once a
// second.
TEST_F(CommsManagerTest, LargeMessageReportsProgressAtMostOnceASecond) {
  const int32_t size = 5 << 20;
  int small = 65536;
  setsockopt(sockets_.Client->GetHandle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
  setsockopt(sockets_.Server->GetHandle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
  std::unique_ptr<TBRNCommsRequest> request = packed(*client_, 7, payloadBytes(size - 32));
  int32_t wireSize = int32_t(request->Outgoing.GetSize());

  std::vector<uint8_t> received;
  std::thread reader([&] {
    TBRNMemoryStream buffer;
    buffer.SetSize(65536);
    while (int32_t(received.size()) < wireSize && sockets_.Server->WaitForReadable(5000)) {
      buffer.SetPosition(0);
      int32_t got = sockets_.Server->ReceiveBuffer(buffer, 65536);
      if (got <= 0) break;
      received.insert(received.end(), buffer.GetMemory(), buffer.GetMemory() + got);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  auto start = std::chrono::steady_clock::now();
  client_->SendCommsMessage(*request);
  reader.join();
  int64_t elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();

  ASSERT_EQ(int32_t(received.size()), wireSize);
  EXPECT_TRUE(std::equal(received.begin(), received.end(), request->Outgoing.GetMemory()));
  const std::vector<test::ProgressReport>& reports = client_->SendReports;
  ASSERT_GE(reports.size(), 3u) << "the transfer took " << elapsed << " ms";
  EXPECT_EQ(reports.front().Bytes, 0);
  EXPECT_EQ(reports.front().Percent, 0);
  EXPECT_EQ(reports.back().Bytes, wireSize);
  EXPECT_EQ(reports.back().Percent, 100);
  EXPECT_LE(int64_t(reports.size()) - 2, elapsed / 1000 + 1);
  for (size_t i = 1; i + 1 < reports.size(); ++i) {
    EXPECT_GE(reports[i].Ticks - reports[i - 1].Ticks, 990) << i;
    EXPECT_GT(reports[i].Bytes, reports[i - 1].Bytes);
    EXPECT_EQ(reports[i].Percent,
              int32_t((int64_t(reports[i].Bytes) * 100 + wireSize / 2) / wireSize));
  }
  EXPECT_GT(request->SendTime, 500);
}

// The header may arrive in parts: one byte at a time is accepted.
TEST_F(CommsManagerTest, HeaderInSingleBytesIsAccepted) {
  std::vector<uint8_t> payload = payloadBytes(300);
  std::vector<uint8_t> wire = wireBytes(7, payload);
  std::thread writer([&] {
    for (size_t i = 0; i < wire.size(); ++i) {
      sendRaw(&wire[i], 1);
      if (i < size_t(kBRNCommsHeaderSize))
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::unique_ptr<TBRNCommsRequest> request;
  bool continueReceiving = false;
  server_->ReceiveCommsMessage(request, continueReceiving);
  writer.join();
  ASSERT_TRUE(request);
  EXPECT_TRUE(continueReceiving);
  server_->UnpackReply(*request);
  EXPECT_EQ(payloadOf(request->Incoming), payload);
}

// A time-out in the middle of a message asks the owner: "stop" abandons the
// receive and drops what had come; "continue" waits on for the rest.
TEST_F(CommsManagerTest, TimeoutInsideAMessageAsksTheOwner) {
  std::vector<uint8_t> payload = payloadBytes(5000);
  for (bool goOn : {false, true}) {
    SCOPED_TRACE(goOn ? "continue" : "stop");
    SocketPair sockets;
    std::unique_ptr<RecordingTransport> receiver = owner_.MakeTransport();
    receiver->AttachSocket(sockets.Server.get());
    receiver->ReceiveTimeout = 1;
    receiver->ContinueAfterTimeouts = goOn ? 1 : 0;
    std::vector<uint8_t> wire = wireBytes(7, payload);
    size_t half = wire.size() / 2;
    TBRNMemoryStream first;
    first.Write(wire.data(), int32_t(half));
    first.SetPosition(0);
    ASSERT_TRUE(testing::SendAll(*sockets.Client, first));
    receiver->OnTimeout = [&] {
      if (!goOn) return;
      TBRNMemoryStream rest;
      rest.Write(wire.data() + half, int32_t(wire.size() - half));
      rest.SetPosition(0);
      testing::SendAll(*sockets.Client, rest);
    };
    std::unique_ptr<TBRNCommsRequest> request = receiver->AcquireRequest();
    bool continueReceiving = false;
    receiver->ReceiveCommsMessage(request, continueReceiving);
    EXPECT_EQ(receiver->Timeouts.load(), 1);
    EXPECT_EQ(continueReceiving, goOn);
    EXPECT_TRUE(receiver->GetErrors().empty());
    if (goOn) {
      receiver->UnpackReply(*request);
      EXPECT_EQ(payloadOf(request->Incoming), payload);
    } else {
      EXPECT_EQ(request->Incoming.GetSize(), kBRNCommsHeaderSize);
      EXPECT_EQ(request->Incoming.GetCapacity(), kBRNCommsBlockSize);
    }
  }
}

// Without data for ReceiveTimeout the owner is asked; "stop" returns with
// nothing received.
TEST_F(CommsManagerTest, TimeoutBeforeAMessageAsksTheOwner) {
  server_->ReceiveTimeout = 0;
  server_->ContinueAfterTimeouts = 2;
  std::unique_ptr<TBRNCommsRequest> request;
  bool continueReceiving = true;
  server_->ReceiveCommsMessage(request, continueReceiving);
  EXPECT_FALSE(continueReceiving);
  EXPECT_EQ(server_->Timeouts.load(), 3);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->Incoming.GetSize(), kBRNCommsHeaderSize);
}

// Broken headers and transfers reach DoConnectionError with their message;
// a request the receive acquired itself goes back to the pool.
TEST_F(CommsManagerTest, BrokenTransfersReachTheConnectionError) {
  std::vector<uint8_t> good = wireBytes(7, payloadBytes(3000));
  std::vector<uint8_t> otherSignature = good;
  otherSignature[3] ^= 1;
  std::vector<uint8_t> twoGigabytes = good;
  StoreLittleEndian(twoGigabytes.data() + 16, int32_t(0x7FFFFFD8));
  StoreLittleEndian(twoGigabytes.data() + 20, int32_t(0x7FFFFFD8));
  std::vector<uint8_t> smallPadded = good;
  StoreLittleEndian(smallPadded.data() + 16, int32_t(31));
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    bool Close;  // the peer closes after the bytes; else it stays silent
    const char* Error;
  };
  const Case cases[] = {
      {"part of the header, then close", std::vector<uint8_t>(good.begin(), good.begin() + 10),
       true, kBRNSignatureNotReceivedMessage},
      {"part of the header, then silence", std::vector<uint8_t>(good.begin(), good.begin() + 10),
       false, kBRNSignatureNotReceivedMessage},
      {"other signature", otherSignature, false, kBRNInvalidSignatureMessage},
      {"claims 2 GB", twoGigabytes, false, kBRNInvalidSizeMessage},
      {"padded size 31", smallPadded, false, kBRNInvalidSizeMessage},
      {"half the message, then close", std::vector<uint8_t>(good.begin(), good.begin() + 1000),
       true, "There was an error while receiving the stream"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SocketPair sockets;
    std::unique_ptr<RecordingTransport> receiver = owner_.MakeTransport();
    receiver->AttachSocket(sockets.Server.get());
    receiver->ReceiveTimeout = 1;
    TBRNMemoryStream stream;
    stream.Write(c.Bytes.data(), int32_t(c.Bytes.size()));
    stream.SetPosition(0);
    ASSERT_TRUE(testing::SendAll(*sockets.Client, stream));
    if (c.Close) sockets.Client->Close();
    std::unique_ptr<TBRNCommsRequest> request;
    bool continueReceiving = false;
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(receiver->ReceiveCommsMessage(request, continueReceiving), ConnectionError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(receiver->GetErrors(), std::vector<std::string>{c.Error});
    EXPECT_FALSE(request);
    EXPECT_EQ(receiver->GetPooledRequestCount(), 1);
  }
}

// Sending to a peer that has gone ends in DoConnectionError, not in a
// signal; the send time is stored all the same.
TEST_F(CommsManagerTest, SendingToAClosedPeerReachesTheConnectionError) {
  sockets_.Server->Close();
  std::unique_ptr<TBRNCommsRequest> request = packed(*client_, 7, payloadBytes(8 << 20));
  request->SendTime = -1;
  EXPECT_THROW(client_->SendCommsMessage(*request), ConnectionError);
  ASSERT_EQ(client_->GetErrors().size(), 1u);
  EXPECT_GE(request->SendTime, 0);
  EXPECT_EQ(client_->SendReports.back().Percent, 100);
}

// Nothing moves while the transport is not connected; attaching while
// connected keeps the first wrapper.
TEST_F(CommsManagerTest, DetachedTransportMovesNothing) {
  TBRNClientSocketWrapper other;
  client_->AttachSocket(&other);
  EXPECT_EQ(client_->GetSocket(), sockets_.Client.get());
  client_->DetachSocket();
  EXPECT_FALSE(client_->GetConnected());
  EXPECT_EQ(client_->GetSocket(), nullptr);
  std::unique_ptr<TBRNCommsRequest> request = packed(*client_, 7, payloadBytes(100));
  client_->SendCommsMessage(*request);
  EXPECT_TRUE(client_->SendReports.empty());
  bool continueReceiving = false;
  std::unique_ptr<TBRNCommsRequest> none;
  client_->ReceiveCommsMessage(none, continueReceiving);
  EXPECT_TRUE(continueReceiving);
  EXPECT_FALSE(none);
  EXPECT_FALSE(sockets_.Server->WaitForReadable(0));
}

}  // namespace
}  // namespace brn
