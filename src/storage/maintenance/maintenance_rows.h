// Row helpers shared by the optimisation and alteration steps of the table
// manager. Used by the session's thread only.
#pragma once

#include <cstdint>
#include <string>

namespace brn {

class TBRNRowValues;
class TBRNTableManager;

// The error pattern of a row that stops an alteration.
inline constexpr const char* kAlterationRowError =
    "The alteration could not complete due to an error with the row %s (%s)";

// The values of the row's primary key joined with "," (a NULL value is
// empty); the row ID when the table has no primary-key index. Manager is
// open and Values are values of its columns.
std::string RowKeyText(TBRNTableManager& Manager, const TBRNRowValues& Values);

// The message of the exception being handled (call inside a catch).
std::string CurrentErrorMessage();

// Logs Pattern with the row's key text and the message of the exception
// being handled; a failure of the log itself is dropped.
void LogRowError(TBRNTableManager& Manager, const TBRNRowValues& Values,
                 const std::string& Pattern) noexcept;

// Copies the source columns named by each target column's
// AlterSourcePosition (-1: none, the value stays NULL) with conversion;
// BLOB and CLOB values are loaded first. A value that cannot be converted
// becomes NULL and is logged on Target with the source row's key. For a
// deleted row (Live false) BLOB and CLOB values are left NULL (their chains
// are freed) and nothing is logged.
void CopyAlteredColumns(TBRNTableManager& Source, TBRNRowValues& SourceValues,
                        TBRNTableManager& Target, TBRNRowValues& TargetValues, bool Live = true);

// Target is filled as a copy for the scope: its rows keep their row ID,
// identity, generated and DEFAULT values, and new columns are filled when
// FillNew. Both flags are cleared at the end.
class TBRNCopyFill {
 public:
  TBRNCopyFill(TBRNTableManager& Target, bool FillNew);
  ~TBRNCopyFill();
  TBRNCopyFill(const TBRNCopyFill&) = delete;
  TBRNCopyFill& operator=(const TBRNCopyFill&) = delete;

 private:
  TBRNTableManager& target_;
};

}  // namespace brn
