#pragma once

#include "foundation/files/file_manager.h"
#include "storage/files/table_file_host.h"

namespace brn {

// Holds a file stream's critical section for a scope.
class TableFileHold {
 public:
  explicit TableFileHold(TBRNFileStream* stream) : stream_(stream) { stream_->Acquire(); }
  ~TableFileHold() { stream_->Release(); }
  TableFileHold(const TableFileHold&) = delete;
  TableFileHold& operator=(const TableFileHold&) = delete;

 private:
  TBRNFileStream* stream_;
};

// The table's Read bracket for a scope: whatever happens inside, the bracket
// taken here is released here.
class TableReadBracket {
 public:
  explicit TableReadBracket(TBRNTableFileHost* host) : host_(host) { host_->BeginRead(); }
  ~TableReadBracket() { host_->EndRead(); }
  TableReadBracket(const TableReadBracket&) = delete;
  TableReadBracket& operator=(const TableReadBracket&) = delete;

 private:
  TBRNTableFileHost* host_;
};

// A deferred Read bracket for a scope (see TBRNTableFileHost).
class TableDeferredReadBracket {
 public:
  explicit TableDeferredReadBracket(TBRNTableFileHost* host) : host_(host) {
    host_->BeginDeferredRead();
  }
  ~TableDeferredReadBracket() { host_->EndRead(); }
  TableDeferredReadBracket(const TableDeferredReadBracket&) = delete;
  TableDeferredReadBracket& operator=(const TableDeferredReadBracket&) = delete;

 private:
  TBRNTableFileHost* host_;
};

class TableWriteBracket {
 public:
  explicit TableWriteBracket(TBRNTableFileHost* host) : host_(host) { host_->BeginWrite(); }
  ~TableWriteBracket() { host_->EndWrite(); }
  TableWriteBracket(const TableWriteBracket&) = delete;
  TableWriteBracket& operator=(const TableWriteBracket&) = delete;

 private:
  TBRNTableFileHost* host_;
};

// The host's progress bracket for a scope.
class TableProgressBracket {
 public:
  explicit TableProgressBracket(TBRNTableFileHost* host) : host_(host) { host_->BeginProgress(); }
  ~TableProgressBracket() { host_->EndProgress(); }
  TableProgressBracket(const TableProgressBracket&) = delete;
  TableProgressBracket& operator=(const TableProgressBracket&) = delete;

 private:
  TBRNTableFileHost* host_;
};

}  // namespace brn
