#include "platform/event_log.h"

#include <syslog.h>

#include <mutex>

namespace brn {

namespace {

std::mutex& SinkLock() {
  static std::mutex lock;
  return lock;
}

TBRNEventLogSink& Sink() {
  static TBRNEventLogSink sink;
  return sink;
}

}  // namespace

TBRNEventLogSink SetEventLogSink(TBRNEventLogSink sink) {
  std::lock_guard guard(SinkLock());
  std::swap(Sink(), sink);
  return sink;
}

void TBRNEventLogger::LogMessage(const std::string& text, TBRNEventLogType type) const {
  std::lock_guard guard(SinkLock());
  if (Sink()) {
    try {
      Sink()(source_, type, text);
    } catch (...) {
    }
    return;
  }
  // openlog keeps the ident pointer; the lock keeps it from changing under
  // another thread's syslog call.
  ::openlog(source_.c_str(), LOG_PID, LOG_DAEMON);
  ::syslog(type == TBRNEventLogType::Error ? LOG_ERR : LOG_INFO, "%s", text.c_str());
  ::closelog();
}

}  // namespace brn
