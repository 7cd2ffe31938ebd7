#include "execution/cursors/local_cursor_factory.h"

#include <stdexcept>

#include "execution/cursors/indexed_local_cursor.h"
#include "execution/cursors/local_cursor.h"
#include "execution/queries/query_manager.h"
#include "storage/cursors/cursor.h"
#include "storage/tables/schema_object_manager.h"

namespace brn {

std::unique_ptr<TBRNCursor> TBRNLocalCursorFactory::CreateLocalCursor(
    TBRNVirtualTableManager& Manager, const std::string& Name, bool ReadOnly, bool Exclusive,
    bool Indexed) {
  if (Indexed) return std::make_unique<TBRNIndexedLocalCursor>(Manager, Exclusive, ReadOnly, Name);
  return std::make_unique<TBRNLocalCursor>(Manager, Exclusive, ReadOnly, Name);
}

std::unique_ptr<TBRNSchemaObjectManager> TBRNLocalCursorFactory::CreateQueryResultTableManager(
    TBRNTableEnvironment& Environment, TBRNBaseTable* Table) {
  return std::make_unique<TBRNQueryResultTableManager>(Environment, Table);
}

void InstallLocalCursorFactory() {
  static TBRNLocalCursorFactory factory;
  try {
    GetTableObjectFactory();
  } catch (const std::logic_error&) {
    SetTableObjectFactory(&factory);
  }
}

}  // namespace brn
