// A session of a test engine logged in as Administrator, for the tests of
// the configuration commands.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "sessions/databases/database_test_support.h"

namespace brn::testing {

// The engine code of what call raised; 0 when it passed.
inline int32_t ErrorCodeOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const EBRNException& e) {
    return e.ErrorCode;
  }
  return 0;
}

struct ConfigCommandTest : ::testing::Test {
  void SetUp() override { Session->Login("Administrator", "GlenHarbor"); }

  TBRNConfig& Config() { return *Session->Config; }
  // A second session of the engine, logged in as user.
  std::unique_ptr<TBRNLocalSessionManager> OtherSession(const std::string& user,
                                                        const std::string& password) {
    std::unique_ptr<TBRNLocalSessionManager> other = Env.OpenSession("Other");
    other->Login(user, password);
    return other;
  }

  TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
};

}  // namespace brn::testing
