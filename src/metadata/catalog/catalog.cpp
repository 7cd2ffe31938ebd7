#include "metadata/catalog/catalog.h"

#include <limits>
#include <unordered_set>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/schemas.h"
#include "metadata/config/config.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

const char* const kInformationSchemaName = "Information";
const char* const kDefaultSchemaName = "Default";

}  // namespace

TBRNCatalog::TBRNCatalog(TBRNConfigRoot* config) : TBRNLockableConfigObject(config) {
  SetEpochParent(config);
  ID = 1;
  Schemas = std::make_unique<TBRNSchemas>(this);
  Schemas->Owner = this;

  auto information = std::make_unique<TBRNSchema>(this);
  information->SetSystem(true);
  information->Name = kInformationSchemaName;
  information->Description = "Information Schema";
  Schemas->AddObject(information.get());
  InformationSchema = information.release();

  auto defaultSchema = std::make_unique<TBRNSchema>(this);
  defaultSchema->Name = kDefaultSchemaName;
  defaultSchema->Description = "Default Schema";
  Schemas->AddObject(defaultSchema.get());
  DefaultSchema = defaultSchema.release();
}

TBRNCatalog::~TBRNCatalog() {
  // Members point at the catalog while they are freed.
  closing_ = true;
  Schemas.reset();
}

TBRNDatabaseContainer* TBRNCatalog::GetDatabase() const {
  return dynamic_cast<TBRNDatabaseContainer*>(Owner);
}

TBRNConfig* TBRNCatalog::GetConfiguration() const {
  return dynamic_cast<TBRNConfig*>(Config);
}

TBRNExprParser* TBRNCatalog::GetParser() const {
  TBRNConfig* config = GetConfiguration();
  return config != nullptr ? config->Parser : nullptr;
}

TBRNExprValidator* TBRNCatalog::GetValidator() const {
  TBRNConfig* config = GetConfiguration();
  return config != nullptr ? config->Validator : nullptr;
}

int32_t TBRNCatalog::NextID() {
  if (NextObjectCounter == std::numeric_limits<int32_t>::max()) {
    NextObjectCounter = 1;
  } else {
    ++NextObjectCounter;
  }
  Modified = true;
  return NextObjectCounter;
}

void TBRNCatalog::SetVersion(int64_t version) {
  if (version == FormatVersion) return;
  FormatVersion = version;
  Modified = true;
}

int32_t TBRNCatalog::nextLockNumber(const std::vector<const TBRNConfigObjects*>& lists) const {
  // The smallest positive number no member holds: with N members one of
  // 1 .. N + 1 is free, so larger numbers need not be remembered.
  int32_t members = 0;
  for (const TBRNConfigObjects* list : lists) members += list->Count();
  std::vector<bool> used(size_t(members) + 2, false);
  for (const TBRNConfigObjects* list : lists) {
    for (int32_t i = 0; i < list->Count(); ++i) {
      const TBRNConfigObject* member = list->GetItem(i);
      if (member == nullptr || member->Temporary) continue;
      auto* numbered = dynamic_cast<const TBRNLockNumbered*>(member);
      if (numbered == nullptr) continue;
      int32_t number = numbered->GetLockNumber();
      if (number >= 1 && number <= members + 1) used[size_t(number)] = true;
    }
  }
  int32_t candidate = 1;
  while (used[size_t(candidate)]) ++candidate;
  return candidate;
}

int32_t TBRNCatalog::NextRoutineLockNumber() const {
  return nextLockNumber({DefaultSchema->Procedures.get(), DefaultSchema->Functions.get()});
}

int32_t TBRNCatalog::NextTableLockNumber() const {
  return nextLockNumber({DefaultSchema->BaseTables.get(), DefaultSchema->Views.get()});
}

// ---------------------------------------------------------------------------
// TBRNContainerCatalog

void TBRNCatalog::CollectTransactionTables(std::vector<TBRNPrivilegedConfigObject*>& tables) {
  TBRNBaseTables* list = DefaultSchema->BaseTables.get();
  for (int32_t i = 0; i < list->Count(); ++i) {
    auto* table = dynamic_cast<TBRNPrivilegedConfigObject*>(list->GetItem(i));
    if (table != nullptr && table->IsInTransaction()) tables.push_back(table);
  }
}

void TBRNCatalog::CollectAuthorizationHolders(std::vector<TBRNConfigObjects*>& holders) {
  // The schemas too: they have owners and grants of their own.
  holders.push_back(Schemas.get());
  holders.push_back(DefaultSchema->BaseTables.get());
  holders.push_back(DefaultSchema->Views.get());
  holders.push_back(DefaultSchema->Procedures.get());
  holders.push_back(DefaultSchema->Functions.get());
}

int64_t TBRNCatalog::GetCatalogMemorySize() const {
  return GetMemorySize();
}

int32_t TBRNCatalog::GetCatalogObjectCount() const {
  return GetObjectCount();
}

// ---------------------------------------------------------------------------
// TBRNAuthorizationRoot

namespace {

TBRNAuthorizationRoot* configurationAuthorizations(TBRNConfigRoot* config) {
  return dynamic_cast<TBRNAuthorizationRoot*>(config);
}

}  // namespace

TBRNUsers* TBRNCatalog::GetUsers() {
  auto* root = configurationAuthorizations(Config);
  return root != nullptr ? root->GetUsers() : nullptr;
}

TBRNRoles* TBRNCatalog::GetRoles() {
  auto* root = configurationAuthorizations(Config);
  return root != nullptr ? root->GetRoles() : nullptr;
}

TBRNAuthorizations* TBRNCatalog::GetAuthorizations() {
  auto* root = configurationAuthorizations(Config);
  return root != nullptr ? root->GetAuthorizations() : nullptr;
}

TBRNUser* TBRNCatalog::GetSystemUser() {
  auto* root = configurationAuthorizations(Config);
  return root != nullptr ? root->GetSystemUser() : nullptr;
}

TBRNRole* TBRNCatalog::GetAdministratorsRole() {
  auto* root = configurationAuthorizations(Config);
  return root != nullptr ? root->GetAdministratorsRole() : nullptr;
}

TBRNRole* TBRNCatalog::GetPublicRole() {
  auto* root = configurationAuthorizations(Config);
  return root != nullptr ? root->GetPublicRole() : nullptr;
}

void TBRNCatalog::RebuildAuthorizations() {
  if (auto* root = configurationAuthorizations(Config)) root->RebuildAuthorizations();
}

// ---------------------------------------------------------------------------
// Object overrides

int64_t TBRNCatalog::GetVersion() const {
  return FormatVersion;
}

bool TBRNCatalog::GetModified() const {
  return Modified;
}

void TBRNCatalog::SetModified(bool value) {
  Modified = value;
}

void TBRNCatalog::SetTransient(bool value) {
  TBRNLockableConfigObject::SetTransient(value);
  DefaultSchema->SetTransient(value);
}

void TBRNCatalog::SetTemporary(bool value) {
  TBRNLockableConfigObject::SetTemporary(value);
  DefaultSchema->SetTemporary(value);
}

bool TBRNCatalog::HasName() const {
  return false;
}

std::string TBRNCatalog::GetObjectTypeName() const {
  return "catalog";
}

int64_t TBRNCatalog::GetMemorySize() const {
  return TBRNLockableConfigObject::GetMemorySize() + sizeof(TBRNCatalog) -
         sizeof(TBRNLockableConfigObject) + Schemas->GetMemorySize();
}

int32_t TBRNCatalog::GetObjectCount() const {
  return TBRNLockableConfigObject::GetObjectCount() + Schemas->GetObjectCount();
}

void TBRNCatalog::ResetAllLinks() {
  TBRNLockableConfigObject::ResetAllLinks();
  DefaultSchema->ResetAllLinks();
}

void TBRNCatalog::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNLockableConfigObject::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNCatalog*>(source);
  if (other == nullptr || other == this) return;
  FormatVersion = other->FormatVersion;
  NextObjectCounter = other->NextObjectCounter;
  try {
    Schemas->Assign(other->Schemas.get(), copyState);
  } catch (...) {
    bindBuiltInSchemas();
    throw;
  }
  bindBuiltInSchemas();
}

bool TBRNCatalog::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  if (!TBRNLockableConfigObject::IsEqual(other, compareIDs)) return false;
  auto* catalog = dynamic_cast<const TBRNCatalog*>(other);
  return catalog != nullptr && FormatVersion == catalog->FormatVersion &&
         Schemas->IsEqual(catalog->Schemas.get(), compareIDs);
}

void TBRNCatalog::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  stream.WriteInt64(FormatVersion);
  stream.WriteInteger(NextObjectCounter);
  Schemas->SaveToStream(stream, structureOnly);
  Modified = false;
}

namespace {

// Reads the catalog stream into catalog; raises on anything this engine
// cannot take.
struct CatalogBodyReader {
  static void check(TBRNCatalog& catalog) {
    TBRNSchemas& schemas = *catalog.Schemas;
    if (schemas.Count() < 2 || !schemas.GetItem(0)->System ||
        !TextEqualsIgnoreCase(schemas.GetItem(0)->Name, kInformationSchemaName) ||
        schemas.GetItem(1)->System ||
        !TextEqualsIgnoreCase(schemas.GetItem(1)->Name, kDefaultSchemaName))
      catalog.RaiseMetadataError("The Default schema is missing");
    schemas.CheckDuplicates();
    std::unordered_set<int32_t> ids;
    for (int32_t i = 0; i < schemas.Count(); ++i) {
      int32_t id = schemas.GetItem(i)->ID;
      if (id <= 0 || !ids.insert(id).second)
        catalog.RaiseMetadataError(
            FormatText("The object ID %s is invalid", {IntegerToString(id)}));
    }
  }
};

}  // namespace

void TBRNCatalog::LoadFromStream(TBRNMemoryStream& stream) {
  const int64_t start = stream.GetPosition();
  int64_t version = readStoredInt64(stream);
  CheckVersion(version);
  if (version < 0) RaiseMetadataError("The stored format version is invalid");
  int32_t counter = readStoredInteger(stream);
  if (counter < 1) RaiseMetadataError("The stored object counter is invalid");

  // A stream is read into a scratch catalog first, so that a damaged one
  // leaves this catalog as it was.
  {
    TBRNCatalog scratch(Config);
    stream.SetPosition(start);
    scratch.loadBody(stream);
  }
  stream.SetPosition(start);
  try {
    loadBody(stream);
  } catch (...) {
    bindBuiltInSchemas();
    throw;
  }
}

void TBRNCatalog::loadBody(TBRNMemoryStream& stream) {
  int64_t version = readStoredInt64(stream);
  CheckVersion(version);
  if (version < 0) RaiseMetadataError("The stored format version is invalid");
  int32_t counter = readStoredInteger(stream);
  if (counter < 1) RaiseMetadataError("The stored object counter is invalid");
  FormatVersion = version;
  NextObjectCounter = counter;
  Schemas->LoadFromStream(stream);
  CatalogBodyReader::check(*this);
  bindBuiltInSchemas();
  Loaded = true;
  Modified = false;
}

void TBRNCatalog::bindBuiltInSchemas() {
  InformationSchema = Schemas->Count() > 0 ? Schemas->GetSchema(0) : nullptr;
  DefaultSchema = Schemas->Count() > 1 ? Schemas->GetSchema(1) : nullptr;
}

void TBRNCatalog::Validate() {
  Schemas->Validate();
}

int32_t TBRNCatalog::GetLockOffset(uint8_t lockType) const {
  switch (lockType) {
    case 3:
    case 4:
      return kCatalogReadLockOffset;
    case 5:
      return kCatalogTransactionLockOffset;
    default:
      return 0;
  }
}

int32_t TBRNCatalog::GetLockLength(uint8_t lockType) const {
  switch (lockType) {
    case 3:
    case 4:
      return kLockRangeLength;
    case 5:
      return kCatalogTransactionLockLength;
    default:
      return 0;
  }
}

}  // namespace brn
