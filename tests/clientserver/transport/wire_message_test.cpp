// Packing and unpacking of framed messages, without sockets: the frames are
// compared with the hex fixtures (also the seeds of the wire message fuzz
// target) and fed back as received bytes.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/comms_test_support.h"
#include "foundation/core/blowfish.h"
#include "foundation/core/byte_order.h"
#include "foundation/text/exception.h"

namespace brn {
namespace {

using test::FromHex;
using test::LoadReceived;
using test::ReadTextFile;
using test::ToHex;
using test::TransportOwner;

// The payload of the fixtures: letters, compressible but not trivially.
std::vector<uint8_t> wirePayloadBytes(int32_t size) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  for (int32_t i = 0; i < size; ++i) bytes[size_t(i)] = uint8_t('a' + (i * 7 + i / 26) % 26);
  return bytes;
}

std::vector<uint8_t> messageBytes(const TBRNMemoryStream& stream) {
  return {stream.GetMemory(), stream.GetMemory() + stream.GetSize()};
}

std::vector<uint8_t> wirePayloadOf(const TBRNCommsMemoryStream& stream) {
  return {stream.GetMemory() + kBRNCommsHeaderSize, stream.GetMemory() + stream.GetSize()};
}

int32_t headerField(const std::vector<uint8_t>& bytes, int32_t offset) {
  return LoadLittleEndian<int32_t>(bytes.data() + offset);
}

std::string fixturePath(const std::string& name) {
  return std::string(BRN_TRANSPORT_FIXTURES) + "/" + name + ".hex";
}

// Bytes 32 to the end decrypted with a cipher of its own: Blowfish-CBC keyed
// with the MD5 digest of the password, zero IV.
std::vector<uint8_t> decryptPayload(const std::vector<uint8_t>& message,
                                    const std::string& password) {
  TBRNDigest key;
  key.DigestString(password);
  TBRNBlowfish cipher;
  cipher.Initialize(key.Digest.data(), 16, nullptr);
  std::vector<uint8_t> plain(message.begin() + kBRNCommsHeaderSize, message.end());
  for (size_t at = 0; at + 8 <= plain.size(); at += 8) cipher.DecryptCBC(plain.data(), int32_t(at));
  return plain;
}

bool isZlibStream(const std::vector<uint8_t>& message) {
  if (message.size() < size_t(kBRNCommsHeaderSize) + 2) return false;
  uint8_t cmf = message[kBRNCommsHeaderSize];
  uint8_t flg = message[kBRNCommsHeaderSize + 1];
  return cmf == 0x78 && (cmf * 256 + flg) % 31 == 0;
}

struct PackCase {
  const char* Name;  // the fixture, when there is one
  bool HasFixture;
  int32_t Level;
  int32_t PayloadSize;
  int32_t Code;
  bool Encrypted;
  bool Handshake;
  int32_t CompressionCode;
  bool Compressed;
  bool PayloadEncrypted;
  int32_t RealSize;  // -1: depends on the compressed size
  int32_t PaddedSize;
};

const PackCase kPackCases[] = {
    {"level6_empty", true, 6, 0, 7, false, false, 60, false, false, 32, 32},
    {"level6_20_bytes", true, 6, 20, 7, false, false, 61, true, false, -1, -1},
    {"level6_2000_bytes", true, 6, 2000, 7, false, false, 6, true, false, -1, -1},
    {"level6_16_bytes", false, 6, 16, 7, false, false, 60, false, false, 48, 48},
    {"level6_1024_bytes", false, 6, 1024, 7, false, false, 61, true, false, -1, -1},
    {"level6_1025_bytes", false, 6, 1025, 7, false, false, 6, true, false, -1, -1},
    {"level1_5_bytes", false, 1, 5, 7, false, false, 10, false, false, 37, 40},
    {"level0_2000_bytes", true, 0, 2000, 7, false, false, 0, false, false, 2032, 2032},
    {"level0_100000_bytes", false, 0, 100000, 7, false, false, 0, false, false, 100032, 100032},
    {"encrypted_real_37", true, 0, 5, 7, true, false, 0, false, true, 37, 40},
    {"encrypted_level6_2000_bytes", true, 6, 2000, 7, true, false, 6, true, true, -1, -1},
    {"login_plain_transport", true, 0, 12, 3, false, false, 0, false, true, 44, 48},
    {"login_prompt_plain_transport", false, 0, 12, 9000, false, false, 0, false, true, 44, 48},
    {"login_answer_plain_transport", false, 0, 12, 9998, false, false, 0, false, true, 44, 48},
    {"login_in_handshake", true, 0, 12, 3, false, true, 0, false, false, 44, 48},
    {"encrypted_in_handshake", false, 0, 12, 7, true, true, 0, false, false, 44, 48},
    {"reply_plain_transport", false, 0, 12, 0, false, false, 0, false, false, 44, 48},
};

class WireMessageTest : public ::testing::Test {
 protected:
  // Packs the case's payload on a client transport (CompressionLevel).
  std::vector<uint8_t> pack(const PackCase& c) {
    std::unique_ptr<test::RecordingTransport> transport = owner_.MakeTransport();
    transport->CompressionLevel = c.Level;
    transport->Encrypted = c.Encrypted;
    transport->Handshake = c.Handshake;
    std::unique_ptr<TBRNCommsRequest> request = transport->AcquireRequest();
    transport->BeginRequest(*request, c.Code);
    std::vector<uint8_t> payload = wirePayloadBytes(c.PayloadSize);
    if (!payload.empty()) transport->RequestStream(*request).Write(payload.data(), c.PayloadSize);
    transport->PackRequest(*request);
    return messageBytes(request->Outgoing);
  }

  TransportOwner owner_;
};

TEST_F(WireMessageTest, PacksHeaderCompressionAndEncryptionByCase) {
  for (const PackCase& c : kPackCases) {
    SCOPED_TRACE(c.Name);
    std::vector<uint8_t> wire = pack(c);
    ASSERT_GE(wire.size(), size_t(kBRNCommsHeaderSize));
    int32_t padded = headerField(wire, 16);
    int32_t real = headerField(wire, 20);
    EXPECT_EQ(padded, int32_t(wire.size()));
    EXPECT_EQ(padded % 8, 0);
    EXPECT_LT(padded - real, 8);
    if (c.RealSize >= 0) {
      EXPECT_EQ(real, c.RealSize);
    }
    if (c.PaddedSize >= 0) {
      EXPECT_EQ(padded, c.PaddedSize);
    }
    EXPECT_EQ(headerField(wire, 24), c.CompressionCode);
    EXPECT_EQ(headerField(wire, 28), c.Code);
    EXPECT_EQ(std::vector<uint8_t>(wire.begin(), wire.begin() + 16),
              owner_.Settings.GetSignatureDigest().Digest);

    // The payload as it would travel before encryption.
    std::vector<uint8_t> body =
        c.PayloadEncrypted ? decryptPayload(wire, owner_.Settings.GetEncryptionPassword())
                           : std::vector<uint8_t>(wire.begin() + kBRNCommsHeaderSize, wire.end());
    std::vector<uint8_t> plainMessage(wire.begin(), wire.begin() + kBRNCommsHeaderSize);
    plainMessage.insert(plainMessage.end(), body.begin(), body.end());
    EXPECT_EQ(isZlibStream(plainMessage), c.Compressed);
    std::vector<uint8_t> payload = wirePayloadBytes(c.PayloadSize);
    if (!c.Compressed) {
      ASSERT_GE(body.size(), payload.size());
      EXPECT_TRUE(std::equal(payload.begin(), payload.end(), body.begin()));
      // The padding is zero before encryption.
      for (size_t i = payload.size(); i < body.size(); ++i) EXPECT_EQ(body[i], 0) << i;
    }
    if (c.PayloadEncrypted && c.PayloadSize > 0) {
      EXPECT_NE(std::vector<uint8_t>(wire.begin() + kBRNCommsHeaderSize, wire.end()), body);
    }
  }
}

TEST_F(WireMessageTest, FramesMatchTheFixtures) {
  for (const PackCase& c : kPackCases) {
    if (!c.HasFixture) continue;
    SCOPED_TRACE(c.Name);
    std::vector<uint8_t> wire = pack(c);
    std::vector<uint8_t> fixture = FromHex(ReadTextFile(fixturePath(c.Name)));
    EXPECT_EQ(ToHex(fixture.data(), fixture.size()), ToHex(wire.data(), wire.size()));
  }
}

// Every fixture, received by a transport with the sender's flags, gives
// back the payload with the header fields of the sender.
TEST_F(WireMessageTest, FixturesUnpackToTheirPayload) {
  for (const PackCase& c : kPackCases) {
    if (!c.HasFixture) continue;
    SCOPED_TRACE(c.Name);
    std::vector<uint8_t> fixture = FromHex(ReadTextFile(fixturePath(c.Name)));
    std::unique_ptr<test::RecordingTransport> transport = owner_.MakeTransport();
    transport->Encrypted = c.Encrypted;
    transport->Handshake = c.Handshake;
    transport->AdoptPeerLevel = true;
    std::unique_ptr<TBRNCommsRequest> request = transport->AcquireRequest();
    ASSERT_TRUE(LoadReceived(*request, fixture.data(), fixture.size()));
    transport->UnpackReply(*request);
    TBRNCommsMemoryStream& message = transport->RequestStream(*request);
    EXPECT_EQ(&message, &request->Incoming);
    EXPECT_EQ(message.GetPosition(), kBRNCommsHeaderSize);
    EXPECT_EQ(message.Code, c.Code);
    EXPECT_EQ(wirePayloadOf(message), wirePayloadBytes(c.PayloadSize));
    EXPECT_EQ(request->Level, c.Level);
    // The scratch buffer holds nothing between uses, also when it was not
    // needed (the empty level-6 frame once stopped the fuzz target here).
    EXPECT_EQ(request->Scratch.GetSize(), 0);
    EXPECT_EQ(request->Scratch.GetCapacity(), 0);
  }
}

// The level a request carries: a transport with AdoptPeerLevel takes the
// requested level from what it received, so the reply in the same request
// is compressed as the peer asked; one without it packs at its
// CompressionLevel whatever the request says.
TEST_F(WireMessageTest, AdoptedLevelDecidesTheReply) {
  std::unique_ptr<test::RecordingTransport> server = owner_.MakeTransport();
  server->AdoptPeerLevel = true;
  struct Case {
    int32_t ReceivedCode;
    int32_t AdoptedLevel;
    int32_t ReplyCode;
    int32_t PayloadSize;
  };
  for (Case c : {Case{61, 6, 6, 20}, Case{60, 6, 6, 10}, Case{6, 6, 6, 2000}, Case{10, 1, 1, 10},
                 Case{0, 0, 0, 20}}) {
    SCOPED_TRACE(c.ReceivedCode);
    std::unique_ptr<TBRNCommsRequest> request = server->AcquireRequest();
    request->Level = 0;
    // The message a client packed at the level the case adopts.
    std::unique_ptr<test::RecordingTransport> client = owner_.MakeTransport();
    client->CompressionLevel = c.AdoptedLevel;
    std::unique_ptr<TBRNCommsRequest> sent = client->AcquireRequest();
    client->BeginRequest(*sent, 7);
    int32_t payloadSize = c.PayloadSize;
    std::vector<uint8_t> payload = wirePayloadBytes(payloadSize);
    client->RequestStream(*sent).Write(payload.data(), payloadSize);
    client->PackRequest(*sent);
    ASSERT_EQ(sent->Outgoing.CompressionCode, c.ReceivedCode);
    std::vector<uint8_t> wire = messageBytes(sent->Outgoing);
    ASSERT_TRUE(LoadReceived(*request, wire.data(), wire.size()));
    server->UnpackReply(*request);
    EXPECT_EQ(wirePayloadOf(request->Incoming), payload);
    EXPECT_EQ(request->Level, c.AdoptedLevel);

    server->BeginRequest(*request, 0);
    std::vector<uint8_t> reply = wirePayloadBytes(2000);
    server->RequestStream(*request).Write(reply.data(), 2000);
    server->PackRequest(*request);
    EXPECT_EQ(request->Outgoing.CompressionCode, c.ReplyCode);
    server->ReleaseRequest(std::move(request));
  }

  std::unique_ptr<test::RecordingTransport> client = owner_.MakeTransport();
  client->CompressionLevel = 0;
  std::unique_ptr<TBRNCommsRequest> request = client->AcquireRequest();
  request->Level = 6;
  client->BeginRequest(*request, 7);
  std::vector<uint8_t> payload = wirePayloadBytes(2000);
  client->RequestStream(*request).Write(payload.data(), 2000);
  client->PackRequest(*request);
  EXPECT_EQ(request->Outgoing.CompressionCode, 0);
  EXPECT_EQ(request->Outgoing.RealSize, 2032);
}

// A header is checked before anything is allocated for it.
TEST_F(WireMessageTest, ReadHeaderRefusesBadHeaders) {
  struct Case {
    const char* Name;
    bool OtherDigest;
    int32_t Padded;
    int32_t Real;
    int32_t Compression;
    const char* Error;  // nullptr: accepted
  };
  const char* sig = kBRNInvalidSignatureMessage;
  const char* size = kBRNInvalidSizeMessage;
  const Case cases[] = {
      {"smallest", false, 32, 32, 0, nullptr},
      {"padded", false, 40, 33, 61, nullptr},
      {"code 99", false, 40, 40, 99, nullptr},
      {"at the cap", false, 1 << 20, 1 << 20, 0, nullptr},
      {"other signature", true, 32, 32, 0, sig},
      {"padded 31", false, 31, 31, 0, size},
      {"padded 0", false, 0, 0, 0, size},
      {"padded 0x7FFFFFE0", false, 0x7FFFFFE0, 0x7FFFFFE0, 0, size},
      {"padded 2 GB", false, 0x7FFFFFD8, 0x7FFFFFD8, 0, size},
      {"negative padded", false, -8, 32, 0, size},
      {"beyond the cap", false, (1 << 20) + 8, (1 << 20) + 8, 0, size},
      {"real below 32", false, 32, 31, 0, size},
      {"real above padded", false, 40, 48, 0, size},
      {"8 bytes of padding", false, 48, 40, 0, size},
      {"padded not a multiple of 8", false, 37, 37, 0, size},
      {"code 100", false, 32, 32, 100, size},
      {"negative code", false, 32, 32, -1, size},
  };
  std::unique_ptr<test::RecordingTransport> transport = owner_.MakeTransport();
  transport->MaxMessageSize = 1 << 20;
  TBRNDigest other;
  other.DigestString("someone else");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::unique_ptr<TBRNCommsRequest> request = transport->AcquireRequest();
    TBRNCommsMemoryStream& message = request->Incoming;
    message.Reset();
    message.SetPosition(0);
    (c.OtherDigest ? other : owner_.Settings.GetSignatureDigest()).SaveToStream(message);
    message.WriteInteger(c.Padded);
    message.WriteInteger(c.Real);
    message.WriteInteger(c.Compression);
    message.WriteInteger(5);
    if (c.Error == nullptr) {
      EXPECT_NO_THROW(message.ReadHeader());
      EXPECT_EQ(message.GetSize(), c.Padded);
      EXPECT_EQ(message.RealSize, c.Real);
      EXPECT_EQ(message.CompressionCode, c.Compression);
      EXPECT_EQ(message.Code, 5);
    } else {
      try {
        message.ReadHeader();
        ADD_FAILURE() << "accepted";
      } catch (const EBRNCommsException& e) {
        EXPECT_STREQ(e.what(), c.Error);
      }
      EXPECT_EQ(message.GetSize(), kBRNCommsHeaderSize);
      EXPECT_EQ(message.GetCapacity(), kBRNCommsBlockSize);
    }
    transport->ReleaseRequest(std::move(request));
  }
}

// The default signature is accepted beside the configured one.
TEST_F(WireMessageTest, ReadHeaderAcceptsTheDefaultSignature) {
  TransportOwner owner;
  owner.Settings.SetSignature("our own signature");
  std::unique_ptr<test::RecordingTransport> transport = owner.MakeTransport();
  std::unique_ptr<TBRNCommsRequest> request = transport->AcquireRequest();
  for (const char* signature : {"our own signature", kBRNDefaultSignature}) {
    TBRNDigest digest;
    digest.DigestString(signature);
    TBRNCommsMemoryStream& message = request->Incoming;
    message.Reset();
    message.SetPosition(0);
    digest.SaveToStream(message);
    message.WriteInteger(32);
    message.WriteInteger(32);
    message.WriteInteger(0);
    message.WriteInteger(0);
    EXPECT_NO_THROW(message.ReadHeader()) << signature;
  }
  // What the transport sends carries the configured signature.
  transport->BeginRequest(*request, 1);
  transport->PackRequest(*request);
  TBRNDigest own;
  own.DigestString("our own signature");
  EXPECT_EQ(std::vector<uint8_t>(request->Outgoing.GetMemory(), request->Outgoing.GetMemory() + 16),
            own.Digest);
}

// A payload that is not what its compression code says raises the
// compression manager's error; so does one that would inflate beyond the
// receiver's cap.
TEST_F(WireMessageTest, UnpackRaisesTheDecompressionError) {
  std::unique_ptr<test::RecordingTransport> transport = owner_.MakeTransport();
  transport->CompressionLevel = 6;
  std::unique_ptr<TBRNCommsRequest> request = transport->AcquireRequest();
  transport->BeginRequest(*request, 7);
  std::vector<uint8_t> zeros(200000, 0);
  transport->RequestStream(*request).Write(zeros.data(), int32_t(zeros.size()));
  transport->PackRequest(*request);
  std::vector<uint8_t> bomb = messageBytes(request->Outgoing);
  ASSERT_LT(bomb.size(), size_t(4096));

  std::vector<uint8_t> broken = bomb;
  broken[kBRNCommsHeaderSize + 5] ^= 0x55;
  broken[kBRNCommsHeaderSize + 9] ^= 0xAA;
  std::vector<uint8_t> truncated = bomb;
  // A stream cut short: the real size ends before the zlib stream does.
  int32_t real = headerField(truncated, 20) - 6;
  StoreLittleEndian(truncated.data() + 20, real);
  StoreLittleEndian(truncated.data() + 16, (real + 7) / 8 * 8);
  truncated.resize(size_t((real + 7) / 8 * 8));

  struct Case {
    const char* Name;
    const std::vector<uint8_t>* Bytes;
    int32_t Cap;
  };
  for (Case c : {Case{"broken", &broken, kBRNCommsDefaultMaxMessageSize},
                 Case{"truncated", &truncated, kBRNCommsDefaultMaxMessageSize},
                 Case{"beyond the cap", &bomb, 100000}}) {
    SCOPED_TRACE(c.Name);
    std::unique_ptr<test::RecordingTransport> receiver = owner_.MakeTransport();
    receiver->MaxMessageSize = c.Cap;
    std::unique_ptr<TBRNCommsRequest> received = receiver->AcquireRequest();
    ASSERT_TRUE(LoadReceived(*received, c.Bytes->data(), c.Bytes->size()));
    try {
      receiver->UnpackReply(*received);
      ADD_FAILURE() << "unpacked";
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, 1201);
    }
    EXPECT_EQ(received->Scratch.GetSize(), 0);
    EXPECT_EQ(received->Scratch.GetCapacity(), 0);
  }
  // The same message within the cap inflates.
  std::unique_ptr<TBRNCommsRequest> received = transport->AcquireRequest();
  ASSERT_TRUE(LoadReceived(*received, bomb.data(), bomb.size()));
  transport->UnpackReply(*received);
  EXPECT_EQ(wirePayloadOf(received->Incoming), zeros);
}

// Released requests keep their Level and buffers; a reset shrinks the
// buffers back to 8192 bytes.
TEST_F(WireMessageTest, PooledRequestsKeepLevelAndShrink) {
  std::unique_ptr<test::RecordingTransport> transport = owner_.MakeTransport();
  transport->AdoptPeerLevel = true;
  std::unique_ptr<TBRNCommsRequest> request = transport->AcquireRequest();
  TBRNCommsRequest* first = request.get();
  EXPECT_EQ(request->Level, 0);
  EXPECT_EQ(request->Outgoing.GetCapacity(), kBRNCommsBlockSize);
  request->Level = 6;
  transport->BeginRequest(*request, 7);
  std::vector<uint8_t> payload = wirePayloadBytes(1 << 20);
  transport->RequestStream(*request).Write(payload.data(), int32_t(payload.size()));
  transport->PackRequest(*request);
  EXPECT_EQ(request->Scratch.GetCapacity(), 0);
  std::vector<uint8_t> wire = messageBytes(request->Outgoing);
  ASSERT_TRUE(LoadReceived(*request, wire.data(), wire.size()));
  transport->UnpackReply(*request);
  EXPECT_EQ(wirePayloadOf(request->Incoming), payload);
  EXPECT_GT(request->Incoming.GetCapacity(), 1 << 20);
  transport->ReleaseRequest(std::move(request));
  EXPECT_EQ(transport->GetPooledRequestCount(), 1);

  request = transport->AcquireRequest();
  EXPECT_EQ(request.get(), first);
  EXPECT_EQ(transport->GetPooledRequestCount(), 0);
  EXPECT_EQ(request->Level, 6);
  transport->BeginRequest(*request, 8);
  EXPECT_EQ(request->Outgoing.GetCapacity(), kBRNCommsBlockSize);
  EXPECT_EQ(request->Outgoing.GetSize(), kBRNCommsHeaderSize);
  EXPECT_EQ(request->Outgoing.GetPosition(), kBRNCommsHeaderSize);
  EXPECT_EQ(request->Outgoing.Code, 8);
  request->Incoming.Reset();
  EXPECT_EQ(request->Incoming.GetCapacity(), kBRNCommsBlockSize);
  // A second request while the first is out is a new one.
  std::unique_ptr<TBRNCommsRequest> second = transport->AcquireRequest();
  EXPECT_NE(second.get(), first);
}

}  // namespace
}  // namespace brn
