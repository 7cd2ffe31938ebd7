#pragma once

#include <memory>
#include <string>

#include "storage/tables/virtual_table_manager.h"

namespace brn {

// Makes the local cursors of table managers (with Indexed an indexed local
// cursor, else a local cursor in physical row order) and the managers of
// query-result tables (TBRNQueryResultTableManager). One factory
// per process, registered with SetTableObjectFactory before the first
// database opens; it keeps no state, so the sessions' threads share it.
class TBRNLocalCursorFactory : public TBRNTableObjectFactory {
 public:
  std::unique_ptr<TBRNCursor> CreateLocalCursor(TBRNVirtualTableManager& Manager,
                                                const std::string& Name, bool ReadOnly,
                                                bool Exclusive, bool Indexed) override;
  std::unique_ptr<TBRNSchemaObjectManager> CreateQueryResultTableManager(
      TBRNTableEnvironment& Environment, TBRNBaseTable* Table) override;
};

// Registers the process's local cursor factory unless a factory is
// registered already. Not thread-safe: called at start-up, before sessions
// run.
void InstallLocalCursorFactory();

}  // namespace brn
