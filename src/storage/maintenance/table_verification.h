// The row walk of VERIFY and REPAIR TABLE: the logical checks of every row
// of a table after its files verified themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/sparse_bitmap.h"

namespace brn {

class TBRNRowValues;
class TBRNRowsetRow;
class TBRNRowsetRowValues;
class TBRNTableManager;

// The name of a row in verification messages: the values of the table's
// primary key in key order, each as its text, joined by ","; the first
// column's value (the row ID) when the table has no primary key.
// Precondition: the manager is open and values hold one of its rows.
std::string VerificationRowName(TBRNTableManager& manager, const TBRNRowValues& values);

// One walk over the rows of an open table manager in row-number order,
// deleted rows skipped:
//   - each BLOB and CLOB reference: a block number inside the BLOB file, a
//     first block that no earlier row refers to (one sparse bitmap of first
//     blocks, no second pass over the BLOB file), of the first-block type,
//     whose length and owner (the version of the row that wrote it) match
//     the row;
//   - the row's constraints, as a stored row is checked (a duplicate key is
//     sought among the other rows, foreign keys are left out); a key check
//     that a damaged tree cannot answer (601) is passed over, as that tree
//     is rebuilt from the rows;
//   - the row's key (or, for a text index, every word's key) in each index
//     not yet marked for rebuilding.
// Findings are logged through the manager and collected; with repair a
// reference that cannot stand becomes NULL, a wrong length or owner is
// corrected, and a row that violates a constraint is deleted (its keys
// leave the indexes that hold them, so that no later row is taken for its
// duplicate) and every index is marked for rebuilding. An index missing a
// row's key is marked for rebuilding.
//
// Used by the session's thread, for the length of one verification.
class TBRNTableRowVerification {
 public:
  // treeDamaged: the indexes whose trees the file verification found
  // damaged (by index position); their keys are neither looked up nor
  // deleted.
  TBRNTableRowVerification(TBRNTableManager& manager, bool repair, std::vector<bool> treeDamaged);
  ~TBRNTableRowVerification();
  TBRNTableRowVerification(const TBRNTableRowVerification&) = delete;
  TBRNTableRowVerification& operator=(const TBRNTableRowVerification&) = delete;

  // Walks every row; false when the user cancelled through the progress.
  bool Run(bool& errorsFound);

 private:
  // Copies row n into the walk's buffer.
  void readRow(int32_t n);
  // The checks of one live row; checkConstraints answers whether the row
  // is still there.
  void checkBlobs(bool& errorsFound, bool& changed);
  void checkBlob(int32_t position, bool& errorsFound, bool& changed);
  bool checkConstraints(int32_t n, bool& errorsFound);
  void checkKeys(int32_t n, bool& errorsFound);
  // Writes the mended image of row n back into its block.
  void writeBack(int32_t n);
  // Takes the keys of row n out of the sound indexes and deletes the row.
  void deleteRow(int32_t n);
  const std::string& rowName();
  bool anyTreeDamaged() const;

  TBRNTableManager& manager_;
  const bool repair_;
  std::vector<bool> treeDamaged_;
  std::unique_ptr<TBRNRowsetRow> row_;
  std::unique_ptr<TBRNRowsetRowValues> values_;
  // First blocks of BLOB chains that a row already refers to.
  TBRNSparseBitmap firstBlocks_{true, true, 0};
  std::vector<int32_t> blobColumns_;
  // The error codes of constraint violations: 1004 and the codes the
  // table's columns and constraints raise their violations with.
  std::vector<int32_t> violationCodes_;
  // The current row's name, made when a finding needs it.
  std::string rowName_;
  bool rowNamed_ = false;
};

}  // namespace brn
