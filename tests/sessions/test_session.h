#pragma once

#include <string>

#include "sessions/engine_manager.h"

namespace brn::testing {

// An engine session with the abstract session operations stubbed out; its
// tick source is a counter the test sets.
class TestEngineSession : public TBRNEngineSessionManager {
 public:
  explicit TestEngineSession(TBRNEngineManager* engine, bool locked = false,
                             bool serverSession = false)
      : TBRNEngineSessionManager(engine, locked, serverSession) {}
  ~TestEngineSession() override { UnregisterFromEngine(); }

  void GetUserName(std::string& name) override { name = "Tester"; }
  int32_t GetTicks() override { return Ticks; }
  int32_t GetElapsedTicks(int32_t startTicks, int32_t stopTicks) override {
    return stopTicks - startTicks;
  }
  void Login(const std::string&, const std::string&) override {}
  void Logout() override {}
  void GetCollationName(int32_t id, std::string& name) override {
    Engine->BuildCollationName(id, name);
  }
  TBRNDatabaseManager* OpenDatabase(const std::string&, uint8_t) override { return nullptr; }
  TBRNStoreManager* OpenStore(const std::string&, uint8_t, bool) override { return Store; }
  void DropConnection() override { ++Drops; }

  // Written only by threads that hold the session's lock.

  int32_t Ticks = 0;
  TBRNStoreManager* Store = nullptr;
  int32_t Drops = 0;
};

}  // namespace brn::testing
