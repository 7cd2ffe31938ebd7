#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/runtime/handle_objects.h"

namespace brn {

class TBRNEvaluationContext;
class TBRNExpressionEvaluator;
class TBRNPrivilegedSchemaObject;
class TBRNTableEnvironment;

// One session's manager of one table, view or routine of a local database:
// it counts its users, opens the object on first use and closes it on last
// use (or keeps it open), and holds the object's lock in the database lock
// file meanwhile. The catalog object keeps the manager's handle
// (ManagerHandle) while the manager is registered in its database's list.
//
// States: closed; open with users; open and idle (kept open, or closed at
// once); a forced close goes straight to closed. Open and Close are
// re-entrant only as far as their guards allow: an Open called from inside
// another (a table that references itself) does nothing but count a user
// once the manager is open; a Close called from inside another does
// nothing.
//
// A manager belongs to one session and is used by its thread only.
class TBRNSchemaObjectManager : public TBRNHandleObject {
 public:
  // Neither is owned; both outlive the manager.
  TBRNSchemaObjectManager(TBRNTableEnvironment& Environment,
                          TBRNPrivilegedSchemaObject* CatalogObject);
  ~TBRNSchemaObjectManager() override;

  TBRNTableEnvironment& GetEnvironment() const { return environment; }
  TBRNPrivilegedSchemaObject* GetCatalogObject() const { return catalogObject; }
  // The session's evaluator and this manager's own context.
  TBRNExpressionEvaluator& GetEvaluator() const;
  TBRNEvaluationContext& GetContext() const { return *context; }

  bool GetPrepared() const { return prepared; }
  bool GetOpen() const { return open; }
  bool GetOpening() const { return opening; }
  bool GetClosing() const { return closing; }
  int32_t GetUserCount() const { return userCount; }
  int32_t GetReferenceCount() const { return referenceCount; }
  bool GetKeepOpenFlag() const { return keepOpen; }
  void SetKeepOpenFlag(bool Value) { keepOpen = Value; }
  void SaveKeepOpen() { savedKeepOpen = keepOpen; }
  void RestoreKeepOpen() { keepOpen = savedKeepOpen; }

  // Hooks in slot order; empty in the base.
  virtual bool GetKeepOpen() { return false; }
  virtual void DoOpen() {}
  virtual void DoRefresh() {}
  virtual void DoOpenReferences() {}
  virtual void DoPrepare() {}
  virtual void DoUnprepare() {}
  virtual void DoCloseReferences() {}
  virtual void DoClose() {}

  // Clears KeepOpen and closes with Force and WithReferences.
  virtual void ForceClose();
  // Opens on first use (DoOpen, DoPrepare), refreshes an idle manager
  // outside a transaction, opens the references when asked and counts one
  // user. A failing DoOpen or DoPrepare leaves the manager closed as Close
  // does (DoUnprepare, DoClose, the object's Exclusive or Shared lock
  // released) and without users; the error passes on.
  virtual void Open(bool WithReferences);
  // Uncounts one user; the last one unprepares (a prepared manager), and
  // closes unless the manager is kept open: DoClose, then the object's
  // Exclusive lock, or else its Shared lock, is released. Force closes
  // whatever the count. A failure while closing still leaves the manager
  // closed without users; the first failure passes on.
  virtual void Close(bool Force, bool WithReferences);

  // The session's privilege check of the current user on the object.
  void CheckPrivilege(int32_t Kind, const std::string& StatementName);
  // A lock type of the object in the database lock file; 0 means none. An
  // Exclusive lock on a kept-open idle manager whose object holds a Shared
  // lock gives the Shared lock up first.
  void LockObject(uint8_t LockType);
  void UnlockObject(uint8_t LockType);

 private:
  // Whether the catalog object holds a lock of lockType.
  bool holdsLock(uint8_t lockType) const;
  // DoPrepare; when it fails, DoUnprepare and closeNow (their errors
  // dropped) before the error passes on.
  void prepareOrClose();
  // DoClose, then the object's Exclusive lock (or else its Shared lock) is
  // released; the manager ends closed without users even when a step
  // fails, and the first failure passes on.
  void closeNow();

  TBRNTableEnvironment& environment;
  TBRNPrivilegedSchemaObject* catalogObject;
  std::unique_ptr<TBRNEvaluationContext> context;
  bool prepared = false;
  bool open = false;
  bool opening = false;
  bool closing = false;
  int32_t userCount = 0;
  int32_t referenceCount = 0;
  bool keepOpen = false;
  bool savedKeepOpen = false;
};

// The managers of one database, keyed by the handle kept in each catalog
// object. The list owns its managers; the catalog objects outlive the list.
// Used by the session's thread only.
class TBRNSchemaObjectManagers {
 public:
  explicit TBRNSchemaObjectManagers(TBRNTableEnvironment& Environment);
  // Clear, dropping its errors (a destructor cannot report them): call
  // Clear first to see them.
  virtual ~TBRNSchemaObjectManagers();
  TBRNSchemaObjectManagers(const TBRNSchemaObjectManagers&) = delete;
  TBRNSchemaObjectManagers& operator=(const TBRNSchemaObjectManagers&) = delete;

  virtual std::unique_ptr<TBRNSchemaObjectManager> CreateManager(
      TBRNPrivilegedSchemaObject* CatalogObject) = 0;
  virtual int32_t GetCapacity() const { return 4096; }

  TBRNTableEnvironment& GetEnvironment() const { return environment; }
  // The registered manager of the object, made and registered when none.
  TBRNSchemaObjectManager* GetManager(TBRNPrivilegedSchemaObject* CatalogObject);
  // GetManager, then (unless the manager is already opening) LockObject
  // and Open(true), unlocking again when the open fails. On any failure a
  // manager left without users is released.
  TBRNSchemaObjectManager* OpenManager(TBRNPrivilegedSchemaObject* CatalogObject, uint8_t LockType);
  // Clears the object's handle, unregisters, force-closes and frees the
  // manager; nothing when the object has none.
  void ReleaseManager(TBRNPrivilegedSchemaObject* CatalogObject);
  // Close(false, true) on every manager without users. Every manager is
  // visited; the first failure passes on afterwards.
  void CloseIdleManagers();
  // Clears KeepOpen and Close(false, true) on every manager, as above.
  void CloseAllManagers();
  // Steps through the registered managers: Handle 0 starts; false at the end.
  bool NextManager(int32_t& Handle, TBRNSchemaObjectManager*& Manager) const;
  // Force-closes and frees every manager, clearing the objects' handles;
  // every manager goes, and the first failure passes on afterwards.
  void Clear();

 private:
  // The handle table, made on first use with GetCapacity.
  TBRNHandleObjects& handles();
  // The registered manager of CatalogObject's handle; nullptr when none.
  TBRNSchemaObjectManager* findManager(const TBRNPrivilegedSchemaObject* CatalogObject) const;

  TBRNTableEnvironment& environment;
  std::unique_ptr<TBRNHandleObjects> managers;
};

}  // namespace brn
