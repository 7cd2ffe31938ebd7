#include "metadata/core/config_object.h"

#include <stdexcept>
#include <typeinfo>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/identifiers.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/core/config_objects.h"
#include "metadata/core/object_selections.h"

namespace brn {

namespace {

constexpr int32_t kMetadataError = 100;
constexpr int32_t kSystemObjectError = 200;
constexpr int32_t kStillReferencedError = 201;
constexpr int32_t kInvalidIdentifierError = 406;

// Sets a flag for the duration of a scope and puts its previous value back,
// also when the scope is left by an exception.
class WalkGuard {
 public:
  explicit WalkGuard(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
  ~WalkGuard() { flag_ = previous_; }
  WalkGuard(const WalkGuard&) = delete;
  WalkGuard& operator=(const WalkGuard&) = delete;

 private:
  bool& flag_;
  bool previous_;
};

}  // namespace

TBRNConfigObject::TBRNConfigObject(TBRNConfigRoot* config) : Config(config) {}

TBRNConfigObject::~TBRNConfigObject() {
  DisposeAndNil(Referrers);
  if (Config != nullptr) Config->AdvanceChangeEpoch();
}

void TBRNConfigObject::RaiseMetadataError(const std::string& message, int32_t line,
                                          int32_t column) const {
  std::string parentType = GetParentTypeName();
  std::string parentName = GetParentName();
  std::string text =
      !parentType.empty() && !parentName.empty()
          ? FormatText("There is an error in the metadata for the %s %s in the %s %s (%s)",
                       {GetObjectTypeName(), GetName(), parentType, parentName, message})
          : FormatText("There is an error in the metadata for the %s %s (%s)",
                       {GetObjectTypeName(), GetName(), message});
  throw EBRNException(kMetadataError, text, line, column);
}

void TBRNConfigObject::RaiseMetadataError(const std::string& message) const {
  RaiseMetadataError(message, 0, 0);
  throw std::logic_error("RaiseMetadataError returned");
}

int64_t TBRNConfigObject::GetVersion() const {
  return Config != nullptr ? Config->GetFormatVersion() : 0;
}

bool TBRNConfigObject::GetModified() const {
  return Config != nullptr && Config->GetRootModified();
}

void TBRNConfigObject::SetModified(bool value) {
  if (Config == nullptr || Owner == nullptr || System || Transient || Temporary) return;
  Config->SetRootModified(value);
}

void TBRNConfigObject::SetInternal(bool value) {
  Internal = value;
}

void TBRNConfigObject::SetReadOnly(bool value) {
  ReadOnly = value;
}

void TBRNConfigObject::SetSystem(bool value) {
  System = value;
}

void TBRNConfigObject::SetTransient(bool value) {
  Transient = value;
}

void TBRNConfigObject::SetTemporary(bool value) {
  Temporary = value;
}

void TBRNConfigObject::RaiseInvalidIdentifier(const std::string& name) const {
  std::string parentType = GetParentTypeName();
  std::string parentName = GetParentName();
  std::string text = !parentType.empty() && !parentName.empty()
                         ? FormatText("Invalid %s identifier '%s' in the %s %s",
                                      {GetObjectTypeName(), name, parentType, parentName})
                         : FormatText("Invalid %s identifier '%s'", {GetObjectTypeName(), name});
  throw EBRNException(kInvalidIdentifierError, text);
}

std::string TBRNConfigObject::GetName() const {
  return Name;
}

bool TBRNConfigObject::HasName() const {
  return true;
}

bool TBRNConfigObject::ValidatesName() const {
  return true;
}

std::string TBRNConfigObject::GetObjectTypeName() const {
  return "object";
}

std::string TBRNConfigObject::GetParentName() const {
  if (Owner == nullptr) return "";
  if (dynamic_cast<const TBRNConfigObjects*>(Owner) != nullptr) return Owner->GetParentName();
  return Owner->GetName();
}

std::string TBRNConfigObject::GetParentTypeName() const {
  if (Owner == nullptr) return "";
  if (dynamic_cast<const TBRNConfigObjects*>(Owner) != nullptr) return Owner->GetParentTypeName();
  return Owner->GetObjectTypeName();
}

void TBRNConfigObject::RaiseSystemObject() const {
  std::string parentType = GetParentTypeName();
  std::string parentName = GetParentName();
  std::string text =
      !parentType.empty() && !parentName.empty()
          ? FormatText(
                "This operation cannot be performed on the system %s %s in the %s %s or "
                "any privileges granted to it",
                {GetObjectTypeName(), GetName(), parentType, parentName})
          : FormatText(
                "This operation cannot be performed on the system %s %s or any "
                "privileges granted to it",
                {GetObjectTypeName(), GetName()});
  throw EBRNException(kSystemObjectError, text);
}

void TBRNConfigObject::ResetLinks() {
  if (Referrers != nullptr) Referrers->Clear();
  ReferrersBuilt = false;
}

void TBRNConfigObject::dropStaleReferrers() {
  if (Config == nullptr || referrersEpoch_ == Config->GetChangeEpoch()) return;
  // Objects may have been freed since the list was filled: it may hold
  // pointers to them, so it is emptied and built again on demand.
  if (Referrers != nullptr) Referrers->Clear();
  ReferrersBuilt = false;
  referrersEpoch_ = Config->GetChangeEpoch();
}

bool TBRNConfigObject::HasReferrers() {
  dropStaleReferrers();
  return Referrers != nullptr && Referrers->Count() > 0;
}

bool TBRNConfigObject::IsInReferenceCycle() {
  BuildReferrers();
  if (Referrers == nullptr) return false;
  // A copy: the walk below builds the referrer lists of other objects.
  std::vector<TBRNConfigObject*> referrers;
  for (int32_t i = 0; i < Referrers->Count(); ++i) referrers.push_back(Referrers->GetItem(i));
  for (TBRNConfigObject* referrer : referrers) {
    if (referrer->GetRootObject()->IsReferencedBy(this)) return true;
  }
  return false;
}

TBRNSelectedConfigObjects* TBRNConfigObject::GetReferrers() {
  dropStaleReferrers();
  if (Referrers == nullptr) Referrers = new TBRNSelectedConfigObjects(Config);
  return Referrers;
}

void TBRNConfigObject::CollectReferrers() {}

void TBRNConfigObject::PropagateRename(const std::string& newName) {
  (void)newName;
}

void TBRNConfigObject::PropagateNewID(int32_t newID) {
  (void)newID;
}

void TBRNConfigObject::PropagateDrop() {}

TBRNConfigObject* TBRNConfigObject::GetRootObject() {
  return this;
}

void TBRNConfigObject::RegisterReferenceTo(TBRNConfigObject* target) {
  (void)target;
}

void TBRNConfigObject::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  (void)target;
  (void)newID;
}

void TBRNConfigObject::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  (void)target;
  (void)newName;
}

void TBRNConfigObject::RemoveReferenceTo(TBRNConfigObject* target) {
  (void)target;
}

void TBRNConfigObject::RaiseStillReferenced(TBRNConfigObject* referrer,
                                            const std::string& action) const {
  std::string parentType = GetParentTypeName();
  std::string parentName = GetParentName();
  bool hasParent = !parentType.empty() && !parentName.empty();
  std::string referrerType = referrer->GetParentTypeName();
  std::string referrerParent = referrer->GetParentName();
  bool referrerHasParent = !referrerType.empty() && !referrerParent.empty();
  std::vector<std::string> args{GetObjectTypeName(), GetName()};
  std::string pattern = "The %s %s";
  if (hasParent) {
    pattern += " in the %s %s";
    args.push_back(parentType);
    args.push_back(parentName);
  }
  pattern += " cannot be %s because it is still referenced by the %s %s";
  args.push_back(action);
  args.push_back(referrer->GetObjectTypeName());
  args.push_back(referrer->GetName());
  if (referrerHasParent) {
    pattern += " in the %s %s";
    args.push_back(referrerType);
    args.push_back(referrerParent);
  }
  throw EBRNException(kStillReferencedError, FormatText(pattern, args));
}

bool TBRNConfigObject::IsPartOf(TBRNConfigObject* x) {
  if (x == this) return true;
  TBRNConfigObject* root = GetRootObject();
  return root != this && root == x;
}

void TBRNConfigObject::AddToSelection(TBRNSelectedConfigObjects* selection) {
  if (Internal) return;
  CreationOrder = 0;
  selection->AddObject(this);
}

void TBRNConfigObject::ComputeDifference(int32_t kind, TBRNConfigObject* other, char terminator) {
  (void)kind;
  (void)other;
  (void)terminator;
}

void TBRNConfigObject::AssignID() {
  if (Config != nullptr && ID == 0) ID = Config->NextObjectID();
}

int64_t TBRNConfigObject::GetMemorySize() const {
  int64_t size = int64_t(sizeof(TBRNConfigObject)) + StringMemSize(Name) +
                 StringMemSize(LoadedName) + StringMemSize(Description);
  if (Referrers != nullptr) size += Referrers->GetMemorySize();
  return size;
}

int32_t TBRNConfigObject::GetObjectCount() const {
  return 1;
}

void TBRNConfigObject::ValidateIdentifier(const std::string& name) const {
  if (HasName() && name.empty()) RaiseInvalidIdentifier(name);
  if (name.empty() || !ValidatesName()) return;
  if (!IsValidIdentifier(name)) RaiseInvalidIdentifier(name);
  if (!Transient && TextLength(name) > kMaxIdentifierLength) RaiseInvalidIdentifier(name);
}

void TBRNConfigObject::ResetAllLinks() {
  ResetLinks();
}

void TBRNConfigObject::ReassignID() {
  int32_t oldID = ID;
  ID = 0;
  AssignID();
  int32_t newID = ID;
  ID = oldID;
  // Nothing to renumber for an object that takes no IDs.
  if (newID == 0) return;
  try {
    PropagateNewID(newID);
  } catch (...) {
    ID = newID;
    throw;
  }
  ID = newID;
}

void TBRNConfigObject::Assign(const TBRNConfigObject* source, bool copyState) {
  (void)copyState;
  if (source == nullptr || source == this) return;
  Index = source->Index;
  ID = source->ID;
  Name = source->Name;
  Description = source->Description;
  Internal = source->Internal;
  ReadOnly = source->ReadOnly;
  SetModified(true);
  ResetLinks();
}

bool TBRNConfigObject::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  if (other == nullptr) return false;
  if (compareIDs && ID != other->ID) return false;
  if (!TextEqualsIgnoreCase(GetName(), other->GetName())) return false;
  return Description == other->Description;
}

bool TBRNConfigObject::IsSameObject(const TBRNConfigObject* other) const {
  return other != nullptr && typeid(*this) == typeid(*other) &&
         TextEqualsIgnoreCase(GetName(), other->GetName());
}

void TBRNConfigObject::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  if (!structureOnly) stream.WriteInteger(ID);
  if (HasName()) {
    stream.WriteString(Name);
    if (!structureOnly) stream.WriteString(Description);
  }
  stream.WriteBoolean(Internal);
  if (!structureOnly) stream.WriteBoolean(ReadOnly);
}

void TBRNConfigObject::LoadFromStream(TBRNMemoryStream& stream) {
  ID = readStoredInteger(stream);
  if (HasName()) {
    Name = readStoredString(stream);
    Description = readStoredString(stream);
  }
  Internal = readStoredBoolean(stream);
  ReadOnly = readStoredBoolean(stream);
  LoadedName = Name;
  ResetLinks();
  Loaded = true;
}

void TBRNConfigObject::Validate() {
  ValidateIdentifier(Name);
}

void TBRNConfigObject::Compile() {}

void TBRNConfigObject::Uncompile() {}

void TBRNConfigObject::CheckNotSystem() const {
  if (System) RaiseSystemObject();
}

void TBRNConfigObject::BuildReferrers() {
  dropStaleReferrers();
  if (ReferrersBuilt || InReferenceWalk) return;
  WalkGuard guard(InReferenceWalk);
  CollectReferrers();
  if (Referrers != nullptr) {
    Referrers->SortByID();
    Referrers->RemoveDuplicateIDs();
  }
  ReferrersBuilt = true;
}

void TBRNConfigObject::CheckNotReferenced(const std::string& action) {
  BuildReferrers();
  if (Referrers != nullptr && Referrers->Count() > 0) {
    RaiseStillReferenced(Referrers->GetItem(0), action);
  }
}

void TBRNConfigObject::NotifyRenamed(const std::string& newName) {
  WalkGuard guard(InReferenceWalk);
  PropagateRename(newName);
}

void TBRNConfigObject::NotifyDropped() {
  {
    WalkGuard guard(InReferenceWalk);
    PropagateDrop();
  }
  ReferrersBuilt = false;
}

bool TBRNConfigObject::IsReferencedBy(TBRNConfigObject* x) {
  BuildReferrers();
  if (InReferenceWalk || Referrers == nullptr) return false;
  WalkGuard guard(InReferenceWalk);
  for (int32_t i = 0; i < Referrers->Count(); ++i) {
    if (Referrers->GetItem(i)->IsPartOf(x)) return true;
  }
  return false;
}

std::string TBRNConfigObject::GetCreateSQL(bool option1, bool option2) {
  (void)option1;
  (void)option2;
  return "";
}

std::string TBRNConfigObject::GetPostCreateSQL() {
  return "";
}

std::string TBRNConfigObject::GetAlterSQL() {
  return "";
}

std::string TBRNConfigObject::GetPreDropSQL() {
  return "";
}

std::string TBRNConfigObject::GetDropSQL(bool option1, bool option2) {
  (void)option1;
  (void)option2;
  return "";
}

void TBRNConfigObject::SetID(int32_t value) {
  if (ID == value) return;
  ID = value;
  SetModified(true);
}

void TBRNConfigObject::SetName(const std::string& value) {
  if (Name == value) return;
  Name = value;
  SetModified(true);
}

void TBRNConfigObject::SetDescription(const std::string& value) {
  if (Description == value) return;
  Description = value;
  SetModified(true);
}

void TBRNConfigObject::CheckVersion(int64_t version) const {
  if (version > kNewestFormatVersion) {
    RaiseMetadataError("The object has been updated by a newer version of the engine");
  }
}

int32_t TBRNConfigObject::PeekStoredID(TBRNMemoryStream& stream) {
  int64_t position = stream.GetPosition();
  int32_t id = stream.ReadInteger();
  stream.SetPosition(position);
  return id;
}

uint32_t TBRNConfigObject::GetStructureChecksum() {
  TBRNMemoryStream stream;
  stream.SetBlockSize(16384);
  SaveToStream(stream, true);
  return stream.CalculateCRC32(0);
}

namespace {

[[noreturn]] void raiseTruncated(const TBRNConfigObject& object) {
  object.RaiseMetadataError("The stored record ends before all of its fields");
}

}  // namespace

int32_t TBRNConfigObject::readStoredInteger(TBRNMemoryStream& stream) const {
  if (stream.GetRemaining() < 4) raiseTruncated(*this);
  return stream.ReadInteger();
}

int64_t TBRNConfigObject::readStoredInt64(TBRNMemoryStream& stream) const {
  if (stream.GetRemaining() < 8) raiseTruncated(*this);
  return stream.ReadInt64();
}

bool TBRNConfigObject::readStoredBoolean(TBRNMemoryStream& stream) const {
  return readStoredByte(stream) != 0;
}

uint8_t TBRNConfigObject::readStoredByte(TBRNMemoryStream& stream) const {
  if (stream.GetRemaining() < 1) raiseTruncated(*this);
  return stream.ReadByte();
}

std::string TBRNConfigObject::readStoredString(TBRNMemoryStream& stream) const {
  int32_t length = readStoredInteger(stream);
  if (length < 0 || length > stream.GetRemaining()) {
    RaiseMetadataError(
        FormatText("The stored record holds an invalid length (%s)", {IntegerToString(length)}));
  }
  std::string text(size_t(length), '\0');
  if (length > 0) stream.Read(text.data(), length);
  return text;
}

int32_t TBRNConfigObject::readStoredCount(TBRNMemoryStream& stream, int32_t maxCount,
                                          int32_t minRecordSize) const {
  int32_t count = readStoredInteger(stream);
  if (count < 0 || count > maxCount ||
      int64_t(count) * MaxInteger(minRecordSize, 0) > stream.GetRemaining()) {
    RaiseMetadataError(
        FormatText("The stored record holds an invalid count (%s)", {IntegerToString(count)}));
  }
  return count;
}

}  // namespace brn
