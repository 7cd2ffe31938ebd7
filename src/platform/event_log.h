#pragma once

#include <functional>
#include <string>

namespace brn {

enum class TBRNEventLogType { Information, Error };

// Writes events to the system log (syslog) under a source name. The sink
// below, when set, receives the events instead, so that tests can read
// them. LogMessage may be called from any thread; failures are ignored.
class TBRNEventLogger {
 public:
  explicit TBRNEventLogger(std::string source) : source_(std::move(source)) {}
  const std::string& Source() const { return source_; }
  void LogMessage(const std::string& text, TBRNEventLogType type) const;

 private:
  std::string source_;
};

using TBRNEventLogSink =
    std::function<void(const std::string& source, TBRNEventLogType type, const std::string& text)>;

// Replaces the system log for the whole process (an empty sink puts the
// system log back); returns the sink that was set. Safe from any thread.
// The sink runs under a lock shared with LogMessage: it must not log.
TBRNEventLogSink SetEventLogSink(TBRNEventLogSink sink);

}  // namespace brn
