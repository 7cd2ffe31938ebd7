#pragma once

#include "metadata/catalog/catalog_expr.h"

namespace brn {

class TBRNLocalDatabaseManager;

// The compiled text of a script handle: "SCRIPT (parameters) BEGIN ... END",
// compiled against the catalog of the handle's database as the session's
// current user sees it (its kind name is "script"). Changing the text only
// uncompiles it, which also drops every breakpoint mark of the old tree.
//
// Used by the thread of the session that owns the handle.
class TBRNDatabaseScript : public TBRNScriptRoutine {
 public:
  // Bound to database's catalog and to the session's current user.
  explicit TBRNDatabaseScript(TBRNLocalDatabaseManager& database);

  void TextChanged() override;
};

}  // namespace brn
