#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sessions/manager_interfaces.h"

namespace brn {

class TBRNCommsManager;

// What a transfer reports: the percentage and the bytes moved so far.
class TBRNCommsProgressInfo : public TBRNProgressInfo {
 public:
  void Reset() override {
    TBRNProgressInfo::Reset();
    Bytes = 0;
  }

  int32_t Bytes = 0;
};

// The progress of one direction of a transport's transfers, timed by the
// transport's environment, reported at most once per TimeInterval (1000 ms)
// between the begin and end reports. Status and log messages go nowhere.
// Used by the transport's thread only.
class TBRNCommsProgress : public TBRNProgress {
 public:
  // The transport must outlive the progress.
  explicit TBRNCommsProgress(TBRNCommsManager& transport);

  TBRNCommsManager& GetTransport() const { return *transport_; }
  TBRNCommsProgressInfo& GetInfo() const { return static_cast<TBRNCommsProgressInfo&>(*Info); }

  int32_t GetTicks() override;
  int32_t GetElapsedTicks(int32_t startTicks, int32_t stopTicks) override;
  void DoStatusMessage(const std::string&) override {}
  void DoLogMessage(const std::string&) override {}

 private:
  TBRNCommsManager* transport_;
};

// Delivers each report to the transport's DoSendProgress; always continues.
class TBRNCommsSendProgress : public TBRNCommsProgress {
 public:
  using TBRNCommsProgress::TBRNCommsProgress;
  bool DoProgress() override;
};

// Delivers each report to the transport's DoReceiveProgress; always
// continues.
class TBRNCommsReceiveProgress : public TBRNCommsProgress {
 public:
  using TBRNCommsProgress::TBRNCommsProgress;
  bool DoProgress() override;
};

}  // namespace brn
