#include "metadata/core/lockable_config_object.h"

#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

constexpr int32_t kCannotLockError = 300;
constexpr int32_t kCannotUnlockError = 301;

[[noreturn]] void raiseLockError(const TBRNLockableConfigObject& object, int32_t code,
                                 const char* verb, uint8_t lockType) {
  std::string parentType = object.GetParentTypeName();
  std::string parentName = object.GetParentName();
  std::string typeName = LockTypeName(lockType);
  std::string text = !parentType.empty() && !parentName.empty()
                         ? FormatText(std::string(verb) + " the %s %s in the %s %s for %s access",
                                      {object.GetObjectTypeName(), object.GetName(), parentType,
                                       parentName, typeName})
                         : FormatText(std::string(verb) + " the %s %s for %s access",
                                      {object.GetObjectTypeName(), object.GetName(), typeName});
  throw EBRNException(code, text);
}

}  // namespace

int32_t NumberedLockOffset(int32_t base, int32_t lockNumber) {
  int64_t offset = int64_t(base) + int64_t(lockNumber) * kLockRangeLength;
  if (lockNumber < 1 || offset + kLockRangeLength > INT32_MAX) {
    throw std::out_of_range("NumberedLockOffset: lock number out of range");
  }
  return int32_t(offset);
}

TBRNLockableConfigObject::TBRNLockableConfigObject(TBRNConfigRoot* config)
    : TBRNConfigObject(config) {}

bool TBRNLockableConfigObject::HasAttributes() const {
  return false;
}

void TBRNLockableConfigObject::SetAttributes(const std::string& value) {
  if (Attributes == value) return;
  Attributes = value;
  SetModified(true);
}

int32_t TBRNLockableConfigObject::GetLockOffset(uint8_t lockType) const {
  (void)lockType;
  return 0;
}

int32_t TBRNLockableConfigObject::GetLockLength(uint8_t lockType) const {
  (void)lockType;
  return 0;
}

int32_t TBRNLockableConfigObject::GetLockRetryCount(uint8_t lockType) const {
  switch (lockType) {
    case ltShared:
    case ltExclusive:
      return 256;
    case ltRead:
    case ltWrite:
    case ltTransaction:
      return 32768;
    default:
      return 0;
  }
}

int32_t TBRNLockableConfigObject::GetLockRetryDelay(uint8_t lockType) const {
  return lockType >= ltShared && lockType <= ltTransaction ? 3 : 0;
}

void TBRNLockableConfigObject::MarkLocked(uint8_t lockType) {
  HeldLocks |= LockTypeBit(lockType);
}

void TBRNLockableConfigObject::MarkUnlocked(uint8_t lockType) {
  HeldLocks &= uint8_t(~LockTypeBit(lockType));
}

void TBRNLockableConfigObject::IncTransactionLockCount() {
  ++TransactionLockCount;
}

void TBRNLockableConfigObject::DecTransactionLockCount() {
  if (TransactionLockCount > 0) --TransactionLockCount;
}

void TBRNLockableConfigObject::RaiseCannotLock(uint8_t lockType) {
  raiseLockError(*this, kCannotLockError, "Cannot lock", lockType);
}

void TBRNLockableConfigObject::RaiseCannotUnlock(uint8_t lockType) {
  raiseLockError(*this, kCannotUnlockError, "Cannot unlock", lockType);
}

void TBRNLockableConfigObject::SetReadOnly(bool value) {
  TBRNConfigObject::SetReadOnly(value);
}

std::string TBRNLockableConfigObject::GetObjectTypeName() const {
  return TBRNConfigObject::GetObjectTypeName();
}

std::string TBRNLockableConfigObject::GetName() const {
  return TBRNConfigObject::GetName();
}

void TBRNLockableConfigObject::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNConfigObject::Assign(source, copyState);
  if (auto* lockable = dynamic_cast<const TBRNLockableConfigObject*>(source)) {
    if (lockable != this) Attributes = lockable->Attributes;
  }
}

bool TBRNLockableConfigObject::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  if (!TBRNConfigObject::IsEqual(other, compareIDs)) return false;
  auto* lockable = dynamic_cast<const TBRNLockableConfigObject*>(other);
  return lockable == nullptr || TextEqualsIgnoreCase(Attributes, lockable->Attributes);
}

int64_t TBRNLockableConfigObject::GetMemorySize() const {
  return TBRNConfigObject::GetMemorySize() + StringMemSize(Attributes);
}

// Records before 2.04 have no Attributes field. Writing and reading use the
// same gate, so that a root still at an older version reads back what it
// wrote. Without a root the version is unknown and the current layout holds.
bool TBRNLockableConfigObject::storesAttributes() const {
  int64_t version = GetVersion();
  return HasAttributes() && (version == 0 || version >= kFormatVersion204);
}

void TBRNLockableConfigObject::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNConfigObject::SaveToStream(stream, structureOnly);
  if (!structureOnly && storesAttributes()) stream.WriteString(Attributes);
}

void TBRNLockableConfigObject::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNConfigObject::LoadFromStream(stream);
  if (storesAttributes()) {
    Attributes = readStoredString(stream);
  } else if (HasAttributes()) {
    Attributes.clear();
  }
}

std::string TBRNLog::GetObjectTypeName() const {
  return "log";
}

int32_t TBRNLog::GetLockOffset(uint8_t lockType) const {
  switch (lockType) {
    case ltRead:
    case ltWrite:
      return kLogReadLockOffset;
    case ltTransaction:
      return kLogTransactionLockOffset;
    default:
      return 0;
  }
}

int32_t TBRNLog::GetLockLength(uint8_t lockType) const {
  switch (lockType) {
    case ltRead:
    case ltWrite:
      return kLockRangeLength;
    case ltTransaction:
      return kLogTransactionLockLength;
    default:
      return 0;
  }
}

}  // namespace brn
