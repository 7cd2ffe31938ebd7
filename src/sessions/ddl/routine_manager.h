#pragma once

#include <cstdint>
#include <memory>

#include "sessions/ddl/schema_object_execution.h"
#include "storage/tables/schema_object_manager.h"

namespace brn {

class TBRNFunction;
class TBRNLocalDatabaseManager;
class TBRNProcedure;
class TBRNRoutine;

// One session's manager of one stored procedure or function, holding it
// prepared for execution while open: an SQL routine compiled with its body
// prepared in the manager's context, an external routine compiled with its
// routine opened in its module. Opening runs as the System user and gives
// the current user back afterwards, also when the open fails.
//
// Used by the session's thread only.
class TBRNRoutineManager : public TBRNSchemaObjectManager {
 public:
  // Neither is owned; both outlive the manager.
  TBRNRoutineManager(TBRNLocalDatabaseManager& database, TBRNRoutine* routine);
  ~TBRNRoutineManager() override;

  TBRNRoutine* GetRoutine() const { return routine_; }

  void DoOpen() override;
  // Safe after a DoOpen that failed part way.
  void DoClose() override;

 private:
  TBRNLocalDatabaseManager& database_;
  TBRNRoutine* routine_;
};

// The open routine managers of one database, at most 4096.
class TBRNRoutineManagers : public TBRNSchemaObjectManagers {
 public:
  explicit TBRNRoutineManagers(TBRNLocalDatabaseManager& database);
  // A routine manager; std::invalid_argument for an object that is not a
  // procedure or function.
  std::unique_ptr<TBRNSchemaObjectManager> CreateManager(
      TBRNPrivilegedSchemaObject* catalogObject) override;
  int32_t GetCapacity() const override { return 4096; }

 private:
  TBRNLocalDatabaseManager& database_;
};

}  // namespace brn
