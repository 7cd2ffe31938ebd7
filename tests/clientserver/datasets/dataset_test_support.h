#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "clientserver/components/engine_component.h"
#include "clientserver/components/session_component.h"
#include "clientserver/server/server_engine_manager.h"
#include "foundation/file_test_support.h"

namespace brn::test {

// Fails the test unless call raises EDatabaseError with message.
void ExpectDatabaseError(const std::function<void()>& call, const std::string& message);

// Every case runs twice: over a local session of the process's engine and
// over a remote session of a server of its own on an ephemeral port of
// 127.0.0.1. Session is the component "S1", logged in as Administrator; the
// in-memory database "Shop" exists.
class ComponentSessionTest : public ::testing::TestWithParam<TBRNSessionType> {
 protected:
  void SetUp() override;
  void TearDown() override;

  bool IsRemote() const { return GetParam() == stRemote; }
  // A new session component named name set up like Session (not connected).
  std::unique_ptr<TBRNSession> NewSession(const std::string& name);
  // Runs sql in the engine database database through Session's manager.
  void Exec(const std::string& database, const std::string& sql);

  brn::testing::TempDirectory EngineFolder;
  brn::testing::TempDirectory ServerFolder;
  std::unique_ptr<TBRNServerEngineManager> Server;
  std::unique_ptr<TBRNEngine> Engine;
  std::unique_ptr<TBRNSession> Session;
};

std::string SessionTypeName(const ::testing::TestParamInfo<TBRNSessionType>& info);

}  // namespace brn::test
