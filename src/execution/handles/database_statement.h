#pragma once

#include "metadata/catalog/catalog_expr.h"

namespace brn {

class TBRNLocalDatabaseManager;

// The compiled statement of a statement handle: exactly one SQL statement
// (its kind name is "statement"), compiled against the catalog of the
// handle's database as the session's current user sees it. Changing the
// text only uncompiles it: the database entry it is bound to is not
// changed by it.
//
// Used by the thread of the session that owns the handle.
class TBRNDatabaseStatement : public TBRNCatalogStatement {
 public:
  // Bound to database's catalog and to the session's current user.
  explicit TBRNDatabaseStatement(TBRNLocalDatabaseManager& database);

  // One statement with the flags of a prepared statement: queries, dynamic
  // parameters and qualified names.
  TBRNParseFlags GetParseFlags() const override;
  void TextChanged() override;
};

}  // namespace brn
