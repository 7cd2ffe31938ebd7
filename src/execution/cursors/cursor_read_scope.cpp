#include "execution/cursors/cursor_read_scope.h"

#include <stdexcept>

#include "execution/cursors/local_cursor.h"
#include "storage/tables/table_manager.h"

namespace brn {

TBRNCursorReadScope::TBRNCursorReadScope(TBRNLocalCursor& Cursor) : cursor_(Cursor) {
  if (cursor_.GetClosed()) throw std::logic_error("a read scope over a closed cursor");
  table_ = dynamic_cast<TBRNTableManager*>(&cursor_.GetTableManager());
  if (table_ == nullptr) return;
  table_->BeginRead();
  open_ = true;
  ++cursor_.readScopes_;
}

TBRNCursorReadScope::~TBRNCursorReadScope() {
  try {
    End();
  } catch (...) {
    // Only a failure to release reaches here: the caller that wants it
    // calls End; otherwise the failure that ended the walk counts.
  }
}

void TBRNCursorReadScope::End() {
  if (!open_) return;
  open_ = false;
  --cursor_.readScopes_;
  table_->EndRead();
}

}  // namespace brn
