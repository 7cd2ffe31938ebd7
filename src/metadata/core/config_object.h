#pragma once

#include <cstdint>
#include <string>

#include "metadata/core/config_root.h"

namespace brn {

class TBRNMemoryStream;
class TBRNSelectedConfigObjects;

// Stored format versions (fixed point, scaled by 10000) at which the layout
// of stored records changed, and the newest one this engine reads.
inline constexpr int64_t kFormatVersion100 = 10000;
inline constexpr int64_t kFormatVersion102 = 10200;
inline constexpr int64_t kFormatVersion106 = 10600;
inline constexpr int64_t kFormatVersion107 = 10700;
inline constexpr int64_t kFormatVersion200 = 20000;
inline constexpr int64_t kFormatVersion203 = 20300;
inline constexpr int64_t kFormatVersion204 = 20400;
inline constexpr int64_t kFormatVersion205 = 20500;
inline constexpr int64_t kNewestFormatVersion = kFormatVersion205;

// Names may be at most this long, except on Transient objects.
inline constexpr int32_t kMaxIdentifierLength = 40;

// Every stored record holds at least an int32 ID and two Boolean bytes;
// collections check their member counts against it before allocating.
inline constexpr int32_t kMinStoredRecordSize = 6;

// Differences computed by ComputeDifference.
inline constexpr int32_t kDifferenceCreate = 0;
inline constexpr int32_t kDifferenceAlter = 1;
inline constexpr int32_t kDifferenceDrop = 2;

// The base of every metadata object and of every collection of them.
//
// An object belongs to the thread of the session that owns its root; nothing
// here is thread-safe. Objects are owned by their collection (or by whoever
// created them while they are in none). The root (Config) must outlive the
// object.
//
// Stored record (full mode): int32 ID, Name and Description (int32 length
// and bytes, only when HasName), Internal and ReadOnly (one byte each).
// Structure-only mode writes only Name (when HasName) and Internal. Every
// class appends its own fields after its parent's; records carry no lengths,
// so what a reader expects is fixed by the class and the root's version.
//
// Reading is strict: a record that ends early or holds a length or count
// beyond the bytes that remain raises the metadata error (code 100) before
// anything is allocated for it.
class TBRNConfigObject {
 public:
  explicit TBRNConfigObject(TBRNConfigRoot* config);
  // Frees the referrer list and advances the root's change epoch, so that
  // links cached to this object are looked up again.
  virtual ~TBRNConfigObject();
  TBRNConfigObject(const TBRNConfigObject&) = delete;
  TBRNConfigObject& operator=(const TBRNConfigObject&) = delete;

  TBRNConfigRoot* Config;             // may be nil: then no IDs and no modified flag
  int32_t Index = -1;                 // position in the owning collection, -1 in none
  bool Loaded = false;                // set by LoadFromStream
  bool Detached = false;              // given up by its collection; the caller owns it
  int32_t ID = 0;                     // 0 = not assigned yet
  TBRNConfigObject* Owner = nullptr;  // the collection, or the owning object
  std::string Name;
  std::string LoadedName;  // the name as last read from a stored record
  std::string Description;
  bool Internal = false;
  bool ReadOnly = false;
  bool System = false;
  bool Transient = false;
  bool Temporary = false;
  int32_t CreationOrder = 0;  // rank in a selection's creation order, 0 = none

  bool GetReadOnly() const { return ReadOnly; }
  bool GetTransient() const { return Transient; }
  bool GetTemporary() const { return Temporary; }

  // Errors. Each names the kind word and name of the object and, when both
  // are non-empty, its parent's kind word and name.
  // 100 "There is an error in the metadata for the %s %s[ in the %s %s] (%s)".
  [[noreturn]] virtual void RaiseMetadataError(const std::string& message, int32_t line,
                                               int32_t column) const;
  [[noreturn]] void RaiseMetadataError(const std::string& message) const;

  // The root's stored format version (0 without a root).
  virtual int64_t GetVersion() const;
  // The modified flag lives in the root. SetModified forwards only for an
  // object with a root and an owner that is neither System, Transient nor
  // Temporary.
  virtual bool GetModified() const;
  virtual void SetModified(bool value);
  virtual void SetInternal(bool value);
  virtual void SetReadOnly(bool value);
  // Collections and objects with member lists pass these on to their members.
  virtual void SetSystem(bool value);
  virtual void SetTransient(bool value);
  virtual void SetTemporary(bool value);
  // 406 "Invalid %s identifier '%s'[ in the %s %s]".
  [[noreturn]] virtual void RaiseInvalidIdentifier(const std::string& name) const;
  virtual std::string GetName() const;
  // Whether Name and Description are stored and an empty name is an error.
  virtual bool HasName() const;
  virtual bool ValidatesName() const;
  // The lower-case kind word of messages ("object" here).
  virtual std::string GetObjectTypeName() const;
  // Without an owner: empty. With a collection as owner: the collection's
  // answer (its own owner's). Otherwise the owner's name / kind word.
  virtual std::string GetParentName() const;
  virtual std::string GetParentTypeName() const;
  // 200 "This operation cannot be performed on the system %s %s[ in the %s
  // %s] or any privileges granted to it".
  [[noreturn]] virtual void RaiseSystemObject() const;

  // References. Links cached from stored IDs or names are dropped by
  // ResetLinks and looked up again on use.
  virtual void ResetLinks();
  virtual bool HasReferrers();
  virtual bool IsInReferenceCycle();
  // The referrer list, created on first use (a selection with the same root).
  // It is emptied whenever the root's change epoch has moved since it was
  // filled, so it never holds a freed object.
  virtual TBRNSelectedConfigObjects* GetReferrers();
  // Hook: ask every collection that may reference this kind of object to
  // RegisterReferenceTo(this) on its members. Nothing in the base.
  virtual void CollectReferrers();
  virtual void PropagateRename(const std::string& newName);
  virtual void PropagateNewID(int32_t newID);
  virtual void PropagateDrop();
  // The object that stands for this one in dependency checks.
  virtual TBRNConfigObject* GetRootObject();
  // When this object references target, add this object (or the object it
  // belongs to) to target's referrers.
  virtual void RegisterReferenceTo(TBRNConfigObject* target);
  virtual void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID);
  virtual void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName);
  virtual void RemoveReferenceTo(TBRNConfigObject* target);
  // 201 "The %s %s[ in the %s %s] cannot be %s because it is still
  // referenced by the %s %s[ in the %s %s]".
  [[noreturn]] virtual void RaiseStillReferenced(TBRNConfigObject* referrer,
                                                 const std::string& action) const;
  virtual bool IsPartOf(TBRNConfigObject* x);
  // Nothing for an Internal object; else CreationOrder := 0 and added.
  virtual void AddToSelection(TBRNSelectedConfigObjects* selection);
  // Builds and keeps the text that turns this object into its counterpart:
  // kind 0 create, 1 alter (other = the new version), 2 drop; terminator
  // separates several statements of one entry. Nothing in the base.
  virtual void ComputeDifference(int32_t kind, TBRNConfigObject* other, char terminator);
  // ID := the root's next ID when there is a root and the ID is 0.
  virtual void AssignID();
  virtual int64_t GetMemorySize() const;
  virtual int32_t GetObjectCount() const;
  virtual void ValidateIdentifier(const std::string& name) const;
  virtual void ResetAllLinks();
  // Takes a new ID; referencing objects rewrite their references while the
  // object still bears the old one.
  virtual void ReassignID();
  // Copies Index, ID, Name, Description, Internal and ReadOnly (not
  // LoadedName nor System, Transient, Temporary), marks modified, resets
  // links. copyState: whether compiled state is copied too (in classes that
  // have any).
  virtual void Assign(const TBRNConfigObject* source, bool copyState);
  virtual bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const;
  // Same class and names equal ignoring case.
  virtual bool IsSameObject(const TBRNConfigObject* other) const;
  virtual void SaveToStream(TBRNMemoryStream& stream, bool structureOnly);
  // Reads the full record; LoadedName := Name, ResetLinks, Loaded := True.
  virtual void LoadFromStream(TBRNMemoryStream& stream);
  virtual void Validate();
  virtual void Compile();
  virtual void Uncompile();
  virtual void CheckNotSystem() const;
  virtual void BuildReferrers();
  // action is the past participle of the message ("dropped", "renamed").
  virtual void CheckNotReferenced(const std::string& action);
  virtual void NotifyRenamed(const std::string& newName);
  virtual void NotifyDropped();
  virtual bool IsReferencedBy(TBRNConfigObject* x);
  // DDL text; empty in the base. The two options matter only in some classes.
  virtual std::string GetCreateSQL(bool option1, bool option2);
  virtual std::string GetPostCreateSQL();
  virtual std::string GetAlterSQL();
  virtual std::string GetPreDropSQL();
  virtual std::string GetDropSQL(bool option1, bool option2);

  // Assign and mark modified only when the value differs (case counts).
  void SetID(int32_t value);
  void SetName(const std::string& value);
  void SetDescription(const std::string& value);

  // A version above the newest this engine reads raises 100 "The object has
  // been updated by a newer version of the engine".
  void CheckVersion(int64_t version) const;
  // The int32 at the stream position; the position is restored.
  static int32_t PeekStoredID(TBRNMemoryStream& stream);
  // CRC-32 of the structure-only record.
  uint32_t GetStructureChecksum();

 protected:
  // Strict readers of stored records: each raises the metadata error when
  // the stream holds too few bytes, or a length that is negative or larger
  // than the bytes that remain.
  int32_t readStoredInteger(TBRNMemoryStream& stream) const;
  int64_t readStoredInt64(TBRNMemoryStream& stream) const;
  bool readStoredBoolean(TBRNMemoryStream& stream) const;
  uint8_t readStoredByte(TBRNMemoryStream& stream) const;
  std::string readStoredString(TBRNMemoryStream& stream) const;
  // A member count: raises when negative, above maxCount, or when count
  // records of at least minRecordSize bytes cannot fit in what remains.
  int32_t readStoredCount(TBRNMemoryStream& stream, int32_t maxCount, int32_t minRecordSize) const;

  // The referrer list as it is (nil when never created); the epoch check
  // runs in GetReferrers, HasReferrers and BuildReferrers.
  TBRNSelectedConfigObjects* Referrers = nullptr;
  bool InReferenceWalk = false;
  bool ReferrersBuilt = false;

 private:
  void dropStaleReferrers();
  uint64_t referrersEpoch_ = 0;
};

}  // namespace brn
