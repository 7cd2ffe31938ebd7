#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/remote/remote_managers.h"
#include "clientserver/remote/remote_session_manager.h"
#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/socket.h"
#include "foundation/core/memory_stream.h"
#include "foundation/locks/compression.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"
#include "sessions/engine_manager.h"
#include "sessions/engine_settings.h"

namespace brn {
namespace {

// A server of a given version that answers one client from a script: the
// connect and login pass, every other request is recorded (its payload
// bytes) and answered with the bytes the test set for its code.
class ScriptedServer {
 public:
  explicit ScriptedServer(int64_t version) : version_(version), settings_(nullptr, "/tmp") {
    transport_ = std::make_unique<Transport>(environment_, compression_, settings_);
    transport_->ReceiveTimeout = 10;
    listener_.Listen("", "127.0.0.1", true, 0, "");
    port_ = ntohs(listener_.GetLocalAddress().Port);
    thread_ = std::thread([this] { Serve(); });
  }

  // The client has gone by now (its close ends the serving thread); the
  // listener's close ends a wait for one that never came.
  ~ScriptedServer() {
    listener_.Close();
    thread_.join();
    transport_->DetachSocket();
  }

  uint16_t GetPort() const { return port_; }

  // The reply payload (after code 0) for requests of code; error: the reply
  // code instead, with the payload as its fields.
  void Answer(int32_t code, const std::string& payload, int32_t replyCode = 0) {
    std::lock_guard<std::mutex> guard(lock_);
    answers_[code] = {replyCode, payload};
  }

  // The payload of the last request of code.
  std::string Received(int32_t code) {
    std::lock_guard<std::mutex> guard(lock_);
    return received_[code];
  }

 private:
  class Transport : public TBRNCommsManager {
   public:
    using TBRNCommsManager::TBRNCommsManager;
    void DoReceiveTimeout(bool& continueReceiving) override { continueReceiving = false; }
    void DoSendProgress(int32_t, int32_t) override {}
    void DoReceiveProgress(int32_t, int32_t) override {}
    void DoConnectionError(const std::string& message) override {
      throw std::runtime_error(message);
    }
  };

  void Serve() {
    const int32_t handle = listener_.Accept();
    if (handle < 0) return;
    connection_ = std::make_unique<TBRNSocketWrapper>(handle);
    transport_->AttachSocket(connection_.get());
    std::unique_ptr<TBRNCommsRequest> request;
    try {
      for (;;) {
        bool going = true;
        transport_->ReceiveCommsMessage(request, going);
        if (!going || !request) return;
        transport_->UnpackReply(*request);
        TBRNCommsMemoryStream& in = request->Incoming;
        const int32_t code = in.Code;
        const std::string payload(reinterpret_cast<const char*>(in.GetMemory()) + in.GetPosition(),
                                  size_t(in.GetSize() - in.GetPosition()));
        if (code == kBRNPingServerCode || code == kBRNLogoutSessionCode) continue;
        std::pair<int32_t, std::string> answer{0, ""};
        if (code == kBRNConnectSessionCode) {
          TBRNMemoryStream reply;
          reply.WriteInt64(version_);
          reply.WriteInteger(5);
          reply.WriteString("BRNMZTRAQEL");
          reply.WriteInteger(77);
          answer.second.assign(reinterpret_cast<const char*>(reply.GetMemory()),
                               size_t(reply.GetSize()));
        } else if (code != kBRNLoginSessionCode) {
          std::lock_guard<std::mutex> guard(lock_);
          received_[code] = payload;
          answer = answers_[code];
        }
        transport_->BeginRequest(*request, answer.first);
        TBRNMemoryStream& out = transport_->RequestStream(*request);
        if (!answer.second.empty()) out.Write(answer.second.data(), int32_t(answer.second.size()));
        transport_->PackRequest(*request);
        transport_->SendCommsMessage(*request);
      }
    } catch (const std::exception&) {
      // The client went.
    }
    transport_->ReleaseRequest(std::move(request));
  }

  int64_t version_;
  TBRNEnvironment environment_;
  TBRNCompressionManager compression_;
  TBRNEngineManagerSettings settings_;
  std::unique_ptr<Transport> transport_;
  TBRNSocketWrapper listener_;
  std::unique_ptr<TBRNSocketWrapper> connection_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::mutex lock_;
  std::map<int32_t, std::pair<int32_t, std::string>> answers_;
  std::map<int32_t, std::string> received_;
};

// Builds bytes field by field.
class Bytes {
 public:
  Bytes& Int(int32_t value) {
    stream_.WriteInteger(value);
    return *this;
  }
  Bytes& Bool(bool value) {
    stream_.WriteBoolean(value);
    return *this;
  }
  Bytes& Str(const std::string& value) {
    stream_.WriteString(value);
    return *this;
  }
  Bytes& Params(const TBRNParamValues& params, bool output) {
    if (output) {
      params.SaveOutputParams(stream_);
    } else {
      params.SaveToStream(stream_);
    }
    return *this;
  }
  std::string Get() const {
    return std::string(reinterpret_cast<const char*>(stream_.GetMemory()),
                       size_t(stream_.GetSize()));
  }

 private:
  TBRNMemoryStream stream_;
};

constexpr int32_t kDatabaseHandle = 3;
constexpr int32_t kStatementHandle = 8;
constexpr int32_t kProcedureHandle = 9;
constexpr int32_t kScriptHandle = 10;

// One output parameter, so that a misplaced read shows.
void AddOutput(TBRNParamValues& params, int32_t value) {
  auto* param = new TBRNParamValue();
  param->SetName("Result");
  param->SetDirection(pmOutput);
  param->SetDataType(dtInteger);
  param->SetAsInteger(value);
  params.Add(param);
}

// For every server version a client may meet, the fields the proxies send
// and read: each gated field travels from its version on, and what the
// older servers leave out is neither sent nor read.
TEST(RemoteManagerVersionsTest, FieldsFollowTheServerVersion) {
  const std::vector<int64_t> versions = {10100, 10200, 10300, 10400, 10600, 10900, 20100, 20200,
                                         20300, 20400, 20500, 20700, 20800, 21400};
  for (int64_t version : versions) {
    SCOPED_TRACE("server version " + std::to_string(version));
    ScriptedServer server(version);
    TBRNParamValues prepared;
    AddOutput(prepared, 0);
    TBRNParamValues output;
    AddOutput(output, 42);
    server.Answer(33, Bytes().Int(kDatabaseHandle).Get());
    server.Answer(250, Bytes().Int(kStatementHandle).Params(prepared, false).Get());
    server.Answer(260, Bytes().Int(kProcedureHandle).Params(prepared, false).Get());
    server.Answer(360, Bytes().Int(kScriptHandle).Params(prepared, false).Get());
    {
      Bytes reply;
      if (version >= 10600) reply.Params(output, true);
      reply.Bool(true).Str("the plan").Int(12).Int(34);
      if (version >= 20800) reply.Bool(true);
      server.Answer(251, reply.Int(0).Get());
    }
    for (int32_t code : {261, 361}) {
      Bytes reply;
      reply.Params(output, true);
      if (version >= 10600) reply.Int(56);
      server.Answer(code, reply.Int(0).Get());
    }
    // An error reply: line and column from 1.09 on.
    {
      Bytes error;
      error.Str("bad statement");
      if (version >= 10900) error.Int(3).Int(7);
      server.Answer(41, error.Get(), 11000);
    }

    TBRNEngineManager engine;
    auto session = std::make_unique<TBRNRemoteSessionManager>(&engine);
    session->RemotePort = server.GetPort();
    session->SetRemotePing(false);
    session->SetRemoteTimeout(10);
    session->OpenSession("testhost:5", "versions", "");
    session->Login("Administrator", "GlenHarbor");
    EXPECT_EQ(session->GetServerVersion(), version);
    EXPECT_EQ(session->GetSessionID(), 77);
    TBRNDatabaseManager* database = session->OpenDatabase("Any", kBRNLockShared);

    // Start Transaction: the lock time-out from 2.03 on.
    TBRNStringsList tables;
    tables.Add("Items");
    database->StartTransaction(tables, 2500);
    Bytes start;
    start.Int(kDatabaseHandle).Int(1).Str("Items");
    if (version >= 20300) start.Int(2500);
    EXPECT_EQ(server.Received(40), start.Get());

    // Execute Statement: output parameters from 1.06, the result from 2.08.
    {
      std::unique_ptr<TBRNStatementManager> statement(database->PrepareStatement("UPDATE x"));
      EXPECT_EQ(statement->ExecuteStatement(), nullptr);
      EXPECT_EQ(statement->Params->GetItem(0)->GetAsInteger(), version >= 10600 ? 42 : 0);
      EXPECT_TRUE(statement->GetSensitive());
      std::string plan;
      statement->GetPlan(plan);
      EXPECT_EQ(plan, "the plan");
      EXPECT_EQ(statement->GetRowsAffected(), 12);
      EXPECT_EQ(statement->GetExecutionTime(), 34);
      EXPECT_EQ(statement->GetExecutionResult(), version >= 20800);
    }

    // Execute Procedure: flags and values from 1.02, the time from 1.06.
    {
      std::unique_ptr<TBRNProcedureManager> procedure(database->PrepareProcedure("Proc"));
      EXPECT_EQ(procedure->ExecuteProcedure(), nullptr);
      Bytes sent;
      sent.Int(kProcedureHandle);
      if (version >= 10200) sent.Bool(false).Bool(false).Bool(false).Params(prepared, false);
      EXPECT_EQ(server.Received(261), sent.Get());
      EXPECT_EQ(procedure->Params->GetItem(0)->GetAsInteger(), 42);
      EXPECT_EQ(procedure->GetExecutionTime(), version >= 10600 ? 56 : 0);
    }

    // Execute Script: the time from 1.06; Debug Script: the debugger option
    // from 2.02.
    {
      std::unique_ptr<TBRNScriptManager> script(database->PrepareScript("BEGIN END"));
      EXPECT_EQ(script->ExecuteScript(), nullptr);
      EXPECT_EQ(script->GetExecutionTime(), version >= 10600 ? 56 : 0);
      auto* remote = static_cast<TBRNRemoteScriptManager*>(script.get());
      remote->ReportDebugger = true;
      remote->DebuggerOption = true;
      script->Params->GetItem(0)->SetAsInteger(0);
      script->DebugScript();
      Bytes debug;
      debug.Int(kScriptHandle).Bool(false).Bool(false).Bool(false).Bool(true);
      if (version >= 20200) debug.Bool(true);
      debug.Params(*script->Params, false);
      EXPECT_EQ(server.Received(363), debug.Get());
    }

    // An error: line and column from 1.09 on.
    try {
      database->Commit(false, false);
      ADD_FAILURE() << "no error";
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, 11000);
      EXPECT_EQ(e.ErrorMessage, "bad statement");
      EXPECT_EQ(e.ErrorLine, version >= 10900 ? 3 : 0);
      EXPECT_EQ(e.ErrorColumn, version >= 10900 ? 7 : 0);
    }
    session->CloseDatabase(database);
    session->Logout();
    session.reset();
  }
}

}  // namespace
}  // namespace brn
