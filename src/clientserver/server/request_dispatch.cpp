#include "clientserver/server/request_dispatch.h"

#include <cstring>

#include "clientserver/server/connection_thread.h"
#include "clientserver/server/server_engine_manager.h"
#include "clientserver/server/server_session.h"
#include "clientserver/transport/comms_request.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"

namespace brn {

TBRNServerRequest::TBRNServerRequest(TBRNServerThread& thread, TBRNCommsRequest& comms)
    : thread_(&thread), comms_(&comms) {}

TBRNServerEngineManager& TBRNServerRequest::GetEngine() const {
  return thread_->GetEngine();
}

int32_t TBRNServerRequest::GetCode() const {
  return comms_->Incoming.Code;
}

TBRNCommsMemoryStream& TBRNServerRequest::Input() const {
  return comms_->Incoming;
}

int32_t TBRNServerRequest::GetRemaining() const {
  const TBRNCommsMemoryStream& in = comms_->Incoming;
  int64_t left = in.GetSize() - in.GetPosition();
  return left > 0 ? int32_t(left) : 0;
}

void TBRNServerRequest::Require(int32_t count) const {
  if (count < 0 || count > GetRemaining()) throw EBRNInvalidRequest();
}

int32_t TBRNServerRequest::ReadInt32() {
  Require(4);
  return comms_->Incoming.ReadInteger();
}

uint32_t TBRNServerRequest::ReadUInt32() {
  Require(4);
  return comms_->Incoming.ReadCardinal();
}

int64_t TBRNServerRequest::ReadInt64() {
  Require(8);
  return comms_->Incoming.ReadInt64();
}

bool TBRNServerRequest::ReadBoolean() {
  Require(1);
  return comms_->Incoming.ReadBoolean();
}

uint8_t TBRNServerRequest::ReadByte() {
  Require(1);
  return comms_->Incoming.ReadByte();
}

double TBRNServerRequest::ReadDouble() {
  Require(8);
  return comms_->Incoming.ReadDouble();
}

std::string TBRNServerRequest::ReadString(int32_t maxLength) {
  int32_t length = ReadInt32();
  if (length < 0 || (maxLength >= 0 && length > maxLength)) throw EBRNInvalidRequest();
  Require(length);
  TBRNCommsMemoryStream& in = comms_->Incoming;
  std::string text(size_t(length), '\0');
  if (length > 0) {
    std::memcpy(text.data(), in.GetMemory() + in.GetPosition(), size_t(length));
    in.SetPosition(in.GetPosition() + length);
  }
  return text;
}

int32_t TBRNServerRequest::PeekInt32() const {
  if (GetRemaining() < 4) return 0;
  const TBRNCommsMemoryStream& in = comms_->Incoming;
  int32_t value = 0;
  std::memcpy(&value, in.GetMemory() + in.GetPosition(), sizeof(value));
  return value;
}

TBRNDatabaseManager& TBRNServerRequest::ReadDatabaseHandle(TBRNServerSessionManager& session) {
  int32_t handle = ReadInt32();
  if (handle < 0) throw EBRNInvalidRequest();
  auto* database = dynamic_cast<TBRNDatabaseManager*>(session.Databases.FindObject(handle));
  // A closed database keeps its manager (and handle) for a later open; until
  // then the handle leads nowhere. Nor does one the client has not opened.
  auto opens = session.ClientDatabaseOpens.find(handle);
  if (database == nullptr || !database->Opened || opens == session.ClientDatabaseOpens.end())
    throw EBRNInvalidRequest();
  return *database;
}

TBRNStoreManager& TBRNServerRequest::ReadStoreHandle(TBRNServerSessionManager& session) {
  int32_t handle = ReadInt32();
  if (handle < 0) throw EBRNInvalidRequest();
  auto* store = dynamic_cast<TBRNStoreManager*>(session.Stores.FindObject(handle));
  auto opens = session.ClientStoreOpens.find(handle);
  if (store == nullptr || !store->Opened || opens == session.ClientStoreOpens.end())
    throw EBRNInvalidRequest();
  return *store;
}

int64_t TBRNServerRequest::GetClientVersion() const { return thread_->GetClientVersion(); }

TBRNCommsMemoryStream& TBRNServerRequest::BeginReply() {
  TBRNCommsManager& transport = comms_->GetTransport();
  transport.BeginRequest(*comms_, kBRNReplyOk);
  replyBegun_ = true;
  return transport.RequestStream(*comms_);
}

void TBRNServerRequestTable::Add(int32_t code, TBRNServerRequestHandler handler) {
  if (handler == nullptr) throw std::invalid_argument("A request handler is required");
  if (!handlers_.emplace(code, handler).second) {
    throw std::logic_error("Request code " + std::to_string(code) + " has a handler already");
  }
}

TBRNServerRequestHandler TBRNServerRequestTable::Find(int32_t code) const {
  auto found = handlers_.find(code);
  return found == handlers_.end() ? nullptr : found->second;
}

const TBRNServerRequestTable& GetServerRequestTable() {
  static const TBRNServerRequestTable table = [] {
    TBRNServerRequestTable built;
    AddSessionRequestHandlers(built);
    AddStoreRequestHandlers(built);
    AddDatabaseRequestHandlers(built);
    AddCursorRequestHandlers(built);
    return built;
  }();
  return table;
}

bool IsNestableRequest(int32_t code) {
  switch (code) {
    case kBRNConnectSessionCode:
    case kBRNLoginSessionCode:
    case kBRNLogoutSessionCode:
    case kBRNReconnectSessionCode:
    case 34:   // Close Database
    case 39:   // Close Store
    case 40:   // Start Transaction
    case 41:   // Commit Transaction
    case 42:   // Rollback Transaction
    case 183:  // Empty Cursor
    case 184:  // Free Cursor
    case 243:  // Apply Cached Updates
    case 250:  // Prepare, Execute, Free Statement
    case 251:
    case 252:
    case 260:  // Prepare, Execute, Free Procedure
    case 261:
    case 262:
    case 404:  // Cancel and End Reading File from Store
    case 405:
    case 408:  // Cancel and End Writing File to Store
    case 409:
      return false;
    default:
      break;
  }
  // Prepare, Execute, Free, Debug Script, Get Script Cursor, and the
  // debugger's pause, step, resume and stop.
  if (code >= 360 && code <= 364) return false;
  if (code >= 368 && code <= 372) return false;
  return true;
}

bool IsAddressAllowed(const TBRNStringsList& authorized, const TBRNStringsList& blocked,
                      const std::string& address) {
  bool allowed = false;
  for (const std::string& pattern : authorized.GetItems()) {
    if (MatchWildcard(address, pattern, false)) {
      allowed = true;
      break;
    }
  }
  if (!allowed) return false;
  for (const std::string& pattern : blocked.GetItems()) {
    if (MatchWildcard(address, pattern, false)) return false;
  }
  return true;
}

}  // namespace brn
