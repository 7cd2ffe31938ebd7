#include "clientserver/server/request_dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/text/string_list.h"

namespace brn {
namespace {

TEST(IsAddressAllowedTest, PatternsAgainstAddresses) {
  struct Case {
    std::vector<std::string> authorized;
    std::vector<std::string> blocked;
    std::string address;
    bool allowed;
  };
  const std::vector<Case> cases = {
      // An empty authorized list allows nothing, whatever is blocked.
      {{}, {}, "127.0.0.1", false},
      {{}, {"10.*"}, "127.0.0.1", false},
      {{"*"}, {}, "127.0.0.1", true},
      {{"*"}, {"192.168.*"}, "192.168.1.5", false},
      {{"*"}, {"192.168.*"}, "10.0.0.1", true},
      {{"*"}, {"127.0.0.*"}, "127.0.0.1", false},
      // "*" is any run of characters, also none; other characters match
      // themselves only.
      {{"10.*.1"}, {}, "10.0.0.1", true},
      {{"10.*.1"}, {}, "10.1", false},
      {{"10.0.0.?"}, {}, "10.0.0.1", false},
      {{"10.0.0.1*"}, {}, "10.0.0.1", true},
      {{"10.0.0.1"}, {}, "10.0.0.10", false},
      // Any authorized pattern may match; any blocked one refuses.
      {{"192.*", "10.*"}, {}, "10.2.3.4", true},
      {{"*"}, {"172.*", "10.0.*"}, "10.0.9.9", false},
      // Not case-sensitive (host names and IPv6 text).
      {{"FE80::*"}, {}, "fe80::1", true},
      {{"*"}, {"FE80::*"}, "fe80::1", false},
      // No escape character: a backslash is an ordinary character.
      {{"10\\*"}, {}, "10\\*", true},
      {{"10\\*"}, {}, "10.0.0.1", false},
      {{"*"}, {}, "", true},
  };
  for (const Case& c : cases) {
    TBRNStringsList authorized;
    TBRNStringsList blocked;
    for (const std::string& pattern : c.authorized) authorized.Add(pattern);
    for (const std::string& pattern : c.blocked) blocked.Add(pattern);
    EXPECT_EQ(IsAddressAllowed(authorized, blocked, c.address), c.allowed)
        << "address '" << c.address << "' authorized " << authorized.GetText() << " blocked "
        << blocked.GetText();
  }
}

void NoHandler(TBRNServerRequest&, TBRNServerSessionManager&) {}

TEST(ServerRequestTableTest, EveryCodeHasOneHandler) {
  TBRNServerRequestTable table;
  table.Add(300, &NoHandler);
  EXPECT_EQ(table.Find(300), &NoHandler);
  EXPECT_EQ(table.Find(301), nullptr);
  EXPECT_THROW(table.Add(300, &NoHandler), std::logic_error);
  // The server's table: connect, reconnect and ping are the connection's
  // own and never reach a handler.
  const TBRNServerRequestTable& server = GetServerRequestTable();
  for (int32_t code : {kBRNConnectSessionCode, kBRNReconnectSessionCode, kBRNPingServerCode}) {
    EXPECT_EQ(server.Find(code), nullptr) << code;
  }
  EXPECT_NE(server.Find(kBRNLoginSessionCode), nullptr);
}

}  // namespace
}  // namespace brn
