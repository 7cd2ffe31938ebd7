#include "execution/cursors/cursor_read_scope.h"

#include <algorithm>
#include <stdexcept>
#include <thread>
#include <utility>

#include "execution/cursors/local_cursor.h"
#include "storage/tables/table_manager.h"

namespace brn {

TBRNCursorReadScope::TBRNCursorReadScope(TBRNLocalCursor& Cursor, bool Deferred) : cursor_(Cursor) {
  if (cursor_.GetClosed()) throw std::logic_error("a read scope over a closed cursor");
  table_ = dynamic_cast<TBRNTableManager*>(&cursor_.GetTableManager());
  if (table_ == nullptr) return;
  if (Deferred) {
    table_->BeginDeferredRead();
  } else {
    table_->BeginRead();
  }
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

// ---------------------------------------------------------------------------

TBRNCursorReadBatch::~TBRNCursorReadBatch() {
  // Scopes that were not ended release their brackets quietly.
  scopes_.clear();
}

void TBRNCursorReadBatch::Add(TBRNLocalCursor& Cursor) {
  if (std::find(cursors_.begin(), cursors_.end(), &Cursor) != cursors_.end()) return;
  cursors_.push_back(&Cursor);
  if (!held_) {
    take();
    return;
  }
  scopes_.push_back(std::make_unique<TBRNCursorReadScope>(Cursor));
}

void TBRNCursorReadBatch::take() {
  held_ = true;
  rows_ = 0;
  ++batches_;
  started_ = std::chrono::steady_clock::now();
  for (TBRNLocalCursor* cursor : cursors_) {
    scopes_.push_back(std::make_unique<TBRNCursorReadScope>(*cursor));
    // A flush another process made while the bracket was given back: its
    // caches are stale now and must go before the next row is read.
    if (batches_ > 1)
      if (auto* table = dynamic_cast<TBRNTableManager*>(&cursor->GetTableManager()))
        table->HasChanged(false);
  }
}

void TBRNCursorReadBatch::release() {
  held_ = false;
  // Ended in reverse order of taking, each once: a failure to release one
  // still gives back the rest before it passes on.
  std::vector<std::unique_ptr<TBRNCursorReadScope>> scopes = std::move(scopes_);
  scopes_.clear();
  while (!scopes.empty()) {
    std::unique_ptr<TBRNCursorReadScope> scope = std::move(scopes.back());
    scopes.pop_back();
    scope->End();
  }
}

void TBRNCursorReadBatch::Tick() {
  if (!held_) {
    if (!cursors_.empty()) take();
    return;
  }
  if (++rows_ % kClockRows != 0 || std::chrono::steady_clock::now() - started_ < kBatchTime)
    return;
  release();
  std::this_thread::sleep_for(kGapTime);
  take();
}

void TBRNCursorReadBatch::Pause() {
  if (held_) release();
}

void TBRNCursorReadBatch::End() {
  Pause();
  cursors_.clear();
}

}  // namespace brn
