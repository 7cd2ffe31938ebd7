#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <utility>

namespace brn {

class TBRNDatabaseManager;
class TBRNHandleObject;
class TBRNHandleObjects;
class TBRNSessionHandleIndex;

// Where a statement, procedure or script handle is registered: in its
// database's handle table of that kind, which owns it, and in the session's
// index of that kind, which gives it the session-wide handle a client names
// it by. The handle holds one of these as a member; Unregister runs (again)
// when the member goes, so a handle never stays registered past its end.
// Used by the session's thread.
class TBRNHandleRegistration {
 public:
  // Neither table is owned; both outlive the handle (the database frees its
  // handles before it closes, the session its databases).
  TBRNHandleRegistration(TBRNDatabaseManager& database, TBRNHandleObjects& table,
                         TBRNSessionHandleIndex& index)
      : database_(database), table_(table), index_(index) {}
  ~TBRNHandleRegistration() { Unregister(); }
  TBRNHandleRegistration(const TBRNHandleRegistration&) = delete;
  TBRNHandleRegistration& operator=(const TBRNHandleRegistration&) = delete;

  // Adds object to the table, then gives it a session-wide handle. When the
  // second step fails (the index is full) the table forgets the object
  // again and the error passes on, nothing registered. Once per object.
  void Register(TBRNHandleObject& object);
  // Leaves the index (unless the index dropped the handle already, as when
  // the database closed, or gave it to another object since) and then the
  // table. Never raises; a second call does nothing.
  void Unregister() noexcept;
  // The session-wide handle; 0 while not registered.
  int32_t GetSessionHandle() const { return sessionHandle_; }

 private:
  TBRNDatabaseManager& database_;
  TBRNHandleObjects& table_;
  TBRNSessionHandleIndex& index_;
  TBRNHandleObject* object_ = nullptr;
  int32_t sessionHandle_ = 0;
};

// The destructor's un-prepare of a handle: a failure is logged with the
// handle's free operation code and dropped (a destructor never raises).
// TSession is the handle's session (LogOperationError).
template <typename TSession, typename TUnprepare>
void UnprepareLoggingFailure(TSession& session, int32_t operation,
                             TUnprepare&& unprepare) noexcept {
  try {
    unprepare();
  } catch (const std::exception& error) {
    try {
      session.LogOperationError(error, operation);
    } catch (...) {  // the log is best effort here
    }
  } catch (...) {
    // Nothing to report it with.
  }
}

// The free operation of a handle type THandle (which has the members
// Registration, Session and Unprepare): handle becomes nullptr; the handle
// leaves both tables, un-prepares and is deleted. A failure of the
// un-prepare is logged with operation and passes on after the delete.
template <typename THandle>
void FreeRegisteredHandle(THandle*& handle, int32_t operation) {
  if (handle == nullptr) return;
  std::unique_ptr<THandle> freed(std::exchange(handle, nullptr));
  freed->Registration.Unregister();
  try {
    freed->Unprepare();
  } catch (const std::exception& error) {
    freed->Session.LogOperationError(error, operation);
    throw;
  }
}

}  // namespace brn
