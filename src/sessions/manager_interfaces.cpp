#include "sessions/manager_interfaces.h"

#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/values/param_value.h"

namespace brn {

namespace {

std::unique_ptr<TBRNParamValues> paramsOrNew(std::unique_ptr<TBRNParamValues> params) {
  return params ? std::move(params) : std::make_unique<TBRNParamValues>();
}

// A listing read from a client or a file is untrusted: a count or length that
// the remaining bytes cannot hold means the listing is damaged.
void checkRemaining(const TBRNMemoryStream& stream, int64_t needed) {
  if (needed < 0 || needed > stream.GetRemaining())
    throw std::runtime_error("The store file listing is damaged or truncated");
}

int32_t readCount(TBRNMemoryStream& stream, int32_t minimumItemSize) {
  checkRemaining(stream, 4);
  int32_t count = stream.ReadInteger();
  checkRemaining(stream, int64_t(count) * minimumItemSize);
  return count;
}

void readString(TBRNMemoryStream& stream, std::string& s) {
  checkRemaining(stream, 4);
  int64_t at = stream.GetPosition();
  int32_t length = stream.ReadInteger();
  checkRemaining(stream, length);
  stream.SetPosition(at);
  stream.ReadString(s);
}

int64_t readInt64(TBRNMemoryStream& stream) {
  checkRemaining(stream, 8);
  return stream.ReadInt64();
}

int32_t readInt32(TBRNMemoryStream& stream) {
  checkRemaining(stream, 4);
  return stream.ReadInteger();
}

}  // namespace

TBRNStatementManager::TBRNStatementManager(std::unique_ptr<TBRNParamValues> params)
    : Params(paramsOrNew(std::move(params))) {}
TBRNStatementManager::~TBRNStatementManager() = default;
std::unique_ptr<TBRNParamValues> TBRNStatementManager::CreateParams() {
  return std::make_unique<TBRNParamValues>();
}

TBRNProcedureManager::TBRNProcedureManager(std::unique_ptr<TBRNParamValues> params)
    : Params(paramsOrNew(std::move(params))) {}
TBRNProcedureManager::~TBRNProcedureManager() = default;
std::unique_ptr<TBRNParamValues> TBRNProcedureManager::CreateParams() {
  return std::make_unique<TBRNParamValues>();
}

TBRNScriptManager::TBRNScriptManager(std::unique_ptr<TBRNParamValues> params)
    : Params(paramsOrNew(std::move(params))) {}
TBRNScriptManager::~TBRNScriptManager() = default;
std::unique_ptr<TBRNParamValues> TBRNScriptManager::CreateParams() {
  return std::make_unique<TBRNParamValues>();
}

TBRNDatabaseManager::TBRNDatabaseManager() = default;
TBRNDatabaseManager::~TBRNDatabaseManager() = default;

void TBRNDatabaseManager::OpenDatabase(uint8_t) {
  Opened = true;
}

void TBRNDatabaseManager::CloseDatabase(bool) {
  Opened = false;
  Scripts.Clear();
  Procedures.Clear();
  Statements.Clear();
  Cursors.Clear();
}

void TBRNStoreManager::OpenStore(uint8_t) {
  Opened = true;
}
void TBRNStoreManager::CloseStore(bool) {
  Opened = false;
}

void TBRNStoreFile::SaveToStream(TBRNMemoryStream& stream) const {
  stream.WriteInteger(Kind);
  stream.WriteString(Name);
  if (Kind == int32_t(TBRNStoreFileKind::Plain)) {
    stream.WriteInt64(CreatedOn);
    stream.WriteInt64(Size);
    stream.WriteInt64(Modified);
    return;
  }
  if (Kind != int32_t(TBRNStoreFileKind::Backup) && Kind != int32_t(TBRNStoreFileKind::Update))
    return;
  stream.WriteString(DatabaseName);
  stream.WriteString(DatabasePath);
  stream.WriteInt64(CreatedOn);
  stream.WriteString(CreatedBy);
  stream.WriteInteger(CompressionLevel);
  stream.WriteInt64(Size);
  stream.WriteInt64(Modified);
  if (Kind == int32_t(TBRNStoreFileKind::Backup)) {
    stream.WriteBoolean(IncludesCatalog);
    stream.WriteCurrency(CatalogVersion);
  }
  stream.WriteInteger(int32_t(Tables.size()));
  for (const std::string& table : Tables) stream.WriteString(table);
}

void TBRNStoreFile::LoadFromStream(TBRNMemoryStream& stream) {
  *this = TBRNStoreFile();
  Kind = readInt32(stream);
  readString(stream, Name);
  if (Kind == int32_t(TBRNStoreFileKind::Plain)) {
    CreatedOn = readInt64(stream);
    Size = readInt64(stream);
    Modified = readInt64(stream);
    return;
  }
  if (Kind != int32_t(TBRNStoreFileKind::Backup) && Kind != int32_t(TBRNStoreFileKind::Update))
    return;
  readString(stream, DatabaseName);
  readString(stream, DatabasePath);
  CreatedOn = readInt64(stream);
  readString(stream, CreatedBy);
  CompressionLevel = readInt32(stream);
  Size = readInt64(stream);
  Modified = readInt64(stream);
  if (Kind == int32_t(TBRNStoreFileKind::Backup)) {
    checkRemaining(stream, 1);
    IncludesCatalog = stream.ReadBoolean();
    CatalogVersion = readInt64(stream);
  }
  int32_t count = readCount(stream, 4);
  Tables.resize(size_t(count));
  for (std::string& table : Tables) readString(stream, table);
}

void TBRNStoreFilesList::Add(TBRNStoreFile* file) {
  if (file == nullptr) throw std::invalid_argument("No store file to add");
  if (Items.size() == Items.capacity()) Items.reserve(Items.size() + 64);
  Items.push_back(file);
}

void TBRNStoreFilesList::Clear() {
  for (TBRNStoreFile* item : Items) delete item;
  Items.clear();
}

void TBRNStoreFilesList::Assign(const TBRNStoreFilesList& other) {
  if (&other == this) return;
  Clear();
  for (const TBRNStoreFile* item : other.Items) Add(new TBRNStoreFile(*item));
}

void TBRNStoreFilesList::SaveToStream(TBRNMemoryStream& stream) const {
  stream.WriteInteger(GetCount());
  for (const TBRNStoreFile* item : Items) item->SaveToStream(stream);
}

void TBRNStoreFilesList::LoadFromStream(TBRNMemoryStream& stream) {
  Clear();
  // Kind and the length of the name at least.
  int32_t count = readCount(stream, 8);
  for (int32_t i = 0; i < count; ++i) {
    auto file = std::make_unique<TBRNStoreFile>();
    file->LoadFromStream(stream);
    Add(file.release());
  }
}

TBRNProgress::TBRNProgress(std::unique_ptr<TBRNProgressInfo> info)
    : Info(info ? std::move(info) : std::make_unique<TBRNProgressInfo>()) {}

void TBRNProgress::BeginProgress() {
  if (Level++ != 0) return;
  StartTicks = LastTicks = GetTicks();
  EndTicks = 0;
  Info->Reset();
  DoProgress();
}

bool TBRNProgress::UpdateProgress() {
  if (Level != 1) return true;
  CurrentTicks = GetTicks();
  if (GetElapsedTicks(LastTicks, CurrentTicks) < TimeInterval) return true;
  bool continueWork = DoProgress();
  LastTicks = CurrentTicks;
  return continueWork;
}

bool TBRNProgress::ForceProgress() {
  return Level == 1 ? DoProgress() : true;
}

void TBRNProgress::EndProgress() {
  if (Level <= 0) return;
  if (Level-- != 1) return;
  EndTicks = GetTicks();
  Info->Complete();
  DoProgress();
}

void TBRNProgress::StatusMessage(const std::string& text, bool insideOutermost) {
  if (Level == 0 || (insideOutermost && Level == 1)) DoStatusMessage(text);
}

void TBRNProgress::LogMessage(const std::string& text) {
  DoLogMessage(text);
}

int32_t TBRNProgress::GetElapsedTime() {
  if (Level != 0 || EndTicks == 0) return 0;
  return GetElapsedTicks(StartTicks, EndTicks);
}

}  // namespace brn
