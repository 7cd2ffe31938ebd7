#pragma once

#include <atomic>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "clientserver/transport/comms_manager.h"
#include "foundation/locks/compression.h"
#include "foundation/text/environment.h"
#include "sessions/engine_settings.h"

namespace brn::test {

// The failure a test transport raises from DoConnectionError, so that a
// failed transfer ends the call that met it.
class ConnectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One progress report as the transport delivered it.
struct ProgressReport {
  int32_t Bytes;
  int32_t Percent;
  int32_t Ticks;
};

// A transport whose events are recorded. DoConnectionError records and
// raises ConnectionError; DoReceiveTimeout counts and answers
// ContinueAfterTimeouts times "continue", then "stop". Reports may come from
// the thread that uses the transport while the test thread reads them later,
// so they are kept under a lock.
class RecordingTransport : public TBRNCommsManager {
 public:
  RecordingTransport(TBRNEnvironment& environment, TBRNCompressionManager& compression,
                     const TBRNEngineManagerSettings& settings)
      : TBRNCommsManager(environment, compression, settings) {}

  void DoReceiveTimeout(bool& continueReceiving) override {
    int32_t seen = ++Timeouts;
    continueReceiving = seen <= ContinueAfterTimeouts;
    if (OnTimeout) OnTimeout();
  }
  void DoSendProgress(int32_t bytes, int32_t percent) override {
    std::lock_guard<std::mutex> guard(lock_);
    SendReports.push_back({bytes, percent, GetEnvironment().GetTickCount()});
  }
  void DoReceiveProgress(int32_t bytes, int32_t percent) override {
    std::lock_guard<std::mutex> guard(lock_);
    ReceiveReports.push_back({bytes, percent, GetEnvironment().GetTickCount()});
  }
  void DoConnectionError(const std::string& message) override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      Errors.push_back(message);
    }
    throw ConnectionError(message);
  }

  std::vector<std::string> GetErrors() {
    std::lock_guard<std::mutex> guard(lock_);
    return Errors;
  }

  std::atomic<int32_t> Timeouts{0};
  int32_t ContinueAfterTimeouts = 0;
  std::function<void()> OnTimeout;
  std::vector<ProgressReport> SendReports;
  std::vector<ProgressReport> ReceiveReports;
  std::vector<std::string> Errors;

 private:
  std::mutex lock_;
};

// The owner's side of a transport: environment, compression manager and
// settings (default signature and password) that the transports borrow.
struct TransportOwner {
  TransportOwner() : Settings(nullptr, "/tmp") {}

  std::unique_ptr<RecordingTransport> MakeTransport() {
    return std::make_unique<RecordingTransport>(Environment, Compression, Settings);
  }

  TBRNEnvironment Environment;
  TBRNCompressionManager Compression;
  TBRNEngineManagerSettings Settings;
};

// The bytes of a message as hex text, 32 bytes a line.
inline std::string ToHex(const uint8_t* data, size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
    text += (i % 32 == 31 || i + 1 == size) ? '\n' : ' ';
  }
  return text;
}

// Hex text to bytes; blanks are skipped and '#' starts a comment that runs
// to the end of its line.
inline std::vector<uint8_t> FromHex(const std::string& text) {
  std::vector<uint8_t> bytes;
  int high = -1;
  bool comment = false;
  for (char c : text) {
    if (comment) {
      comment = c != '\n';
      continue;
    }
    if (c == '#') {
      comment = true;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    int value = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
    if (value < 0 || value > 15) throw std::invalid_argument("not a hex digit");
    if (high < 0) {
      high = value;
    } else {
      bytes.push_back(uint8_t(high * 16 + value));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits");
  return bytes;
}

// Puts bytes that came off the wire into the request's incoming message as
// a receive does: the header is checked (ReadHeader may raise), then the
// rest fills the message up to its padded size. false when the bytes end
// before that.
inline bool LoadReceived(TBRNCommsRequest& request, const uint8_t* data, size_t size) {
  TBRNCommsMemoryStream& message = request.Incoming;
  message.Reset();
  if (size < size_t(kBRNCommsHeaderSize)) return false;
  message.SetPosition(0);
  message.Write(data, kBRNCommsHeaderSize);
  message.ReadHeader();
  size_t rest = size_t(message.GetSize()) - size_t(kBRNCommsHeaderSize);
  if (size - size_t(kBRNCommsHeaderSize) < rest) return false;
  message.SetPosition(kBRNCommsHeaderSize);
  if (rest > 0) message.Write(data + kBRNCommsHeaderSize, int32_t(rest));
  return true;
}

inline std::string ReadTextFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace brn::test
