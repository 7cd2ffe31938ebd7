#include "clientserver/server/store_requests.h"

#include <algorithm>

#include "clientserver/server/connection_thread.h"
#include "clientserver/server/request_dispatch.h"
#include "clientserver/server/server_session.h"
#include "clientserver/transport/wire_message.h"
#include "sessions/manager_interfaces.h"

namespace brn {

int32_t MaxReadFileCount(int32_t maxMessageSize) {
  // Room for the header, the count, the padding and the worst growth of a
  // deflated payload (about one byte in 2048, plus its fixed overhead).
  const int64_t room = int64_t(maxMessageSize) - kBRNCommsHeaderSize - 4 - 8 -
                       (int64_t(maxMessageSize) >> 11) - 1024;
  return int32_t(std::max<int64_t>(room, 0));
}

void ServeListStoreFiles(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNStoreManager& store = request.ReadStoreHandle(session);
  const std::string mask = request.ReadString();
  store.ListFiles(mask);
  store.Files.SaveToStream(request.BeginReply());
}

void ServeBeginReadFile(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNStoreManager& store = request.ReadStoreHandle(session);
  const std::string fileName = request.ReadString();
  const int64_t size = store.BeginReadFile(fileName);
  request.BeginReply().WriteInt64(size);
}

void ServeReadFile(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNStoreManager& store = request.ReadStoreHandle(session);
  const int32_t asked = request.ReadInt32();
  if (asked < 0) throw EBRNInvalidRequest();
  const int32_t count =
      std::min(asked, MaxReadFileCount(request.GetThread().GetTransport().MaxMessageSize));
  TBRNCommsMemoryStream& reply = request.BeginReply();
  const int64_t countAt = reply.GetPosition();
  reply.WriteInteger(0);
  const int64_t dataAt = reply.GetPosition();
  const uint32_t done = store.ReadFile(reply, uint32_t(count));
  // The store may grow the reply for the whole count; only what it read
  // goes back.
  const int32_t got = int32_t(std::min<uint32_t>(done, uint32_t(count)));
  reply.SetSize(dataAt + got);
  reply.SetPosition(countAt);
  reply.WriteInteger(got);
  reply.SetPosition(dataAt + got);
}

void ServeCancelReadFile(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  request.ReadStoreHandle(session).CancelReadFile();
}

void ServeEndReadFile(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  request.ReadStoreHandle(session).EndReadFile();
}

void ServeBeginWriteFile(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNStoreManager& store = request.ReadStoreHandle(session);
  const std::string fileName = request.ReadString();
  store.BeginWriteFile(fileName);
}

void ServeWriteFile(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNStoreManager& store = request.ReadStoreHandle(session);
  const int32_t count = request.ReadInt32();
  if (count < 0) throw EBRNInvalidRequest();
  request.Require(count);
  const uint32_t written = store.WriteFile(request.Input(), uint32_t(count));
  request.BeginReply().WriteInteger(int32_t(written));
}

void ServeCancelWriteFile(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  request.ReadStoreHandle(session).CancelWriteFile();
}

void ServeEndWriteFile(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  request.ReadStoreHandle(session).EndWriteFile();
}

void ServeCopyFile(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNStoreManager& store = request.ReadStoreHandle(session);
  const std::string fileName = request.ReadString();
  const std::string newName = request.ReadString();
  store.CopyFile(fileName, newName);
}

void ServeRenameFile(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNStoreManager& store = request.ReadStoreHandle(session);
  const std::string fileName = request.ReadString();
  const std::string newName = request.ReadString();
  store.RenameFile(fileName, newName);
}

void ServeDeleteFile(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNStoreManager& store = request.ReadStoreHandle(session);
  const std::string fileName = request.ReadString();
  store.DeleteFile(fileName);
}

void AddStoreRequestHandlers(TBRNServerRequestTable& table) {
  table.Add(kBRNListStoreFilesCode, &ServeListStoreFiles);
  table.Add(kBRNBeginReadFileCode, &ServeBeginReadFile);
  table.Add(kBRNReadFileCode, &ServeReadFile);
  table.Add(kBRNCancelReadFileCode, &ServeCancelReadFile);
  table.Add(kBRNEndReadFileCode, &ServeEndReadFile);
  table.Add(kBRNBeginWriteFileCode, &ServeBeginWriteFile);
  table.Add(kBRNWriteFileCode, &ServeWriteFile);
  table.Add(kBRNCancelWriteFileCode, &ServeCancelWriteFile);
  table.Add(kBRNEndWriteFileCode, &ServeEndWriteFile);
  table.Add(kBRNCopyFileCode, &ServeCopyFile);
  table.Add(kBRNRenameFileCode, &ServeRenameFile);
  table.Add(kBRNDeleteFileCode, &ServeDeleteFile);
}

}  // namespace brn
