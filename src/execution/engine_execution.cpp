#include "execution/engine_execution.h"

#include <mutex>

#include "execution/cursors/local_cursor_factory.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/handlers/catalog_handlers.h"
#include "execution/handlers/statement_handlers.h"
#include "execution/handles/local_procedure_manager.h"
#include "execution/handles/local_script_manager.h"
#include "execution/handles/local_statement_manager.h"
#include "execution/import_export/table_transfer.h"
#include "execution/queries/create_table_query.h"
#include "execution/queries/view_query_manager.h"

namespace brn {

void InstallExecution() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    InstallLocalEvaluatorFactory(&FillStatementHandlers);
    InstallStatementHandleFactory();
    InstallProcedureHandleFactory();
    InstallScriptHandleFactory();
    InstallLocalCursorFactory();
    InstallSchemaObjectExecution();
    InstallDataExecution();
    SetCreateTableQueryStep(&RunCreateTableQuery);
  });
}

}  // namespace brn
