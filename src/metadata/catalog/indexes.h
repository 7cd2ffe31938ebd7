#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "metadata/catalog/catalog_object.h"
#include "metadata/catalog/column_reference.h"
#include "metadata/core/object_link.h"

namespace brn {

class TBRNColumn;
class TBRNColumns;
class TBRNIndex;
class TBRNIndexes;
class TBRNTableHolder;
class TBRNExprToken;
class TBRNWordGenerator;
class TBRNWordList;

// Index kinds (IndexType).
inline constexpr int32_t kIndexOrdinary = 0;
inline constexpr int32_t kIndexPrimaryKey = 1;
inline constexpr int32_t kIndexForeignKey = 2;
inline constexpr int32_t kIndexUnique = 3;
inline constexpr int32_t kIndexText = 4;
// Limits of IndexedWordLength and its value in a new text index.
inline constexpr int32_t kMinIndexedWordLength = 1;
inline constexpr int32_t kMaxIndexedWordLength = 1024;
inline constexpr int32_t kDefaultIndexedWordLength = 30;
// The largest number of indexes of one table.
inline constexpr int32_t kMaxIndexCount = 512;

// Key size and the smallest B-tree page that holds four keys plus the page
// header: KeySize * 4 + 51 rounded up to a multiple of 8.
int32_t IndexPageSizeFor(int32_t keySize);

// One column of an index key: the column (stored by ID), its collation and
// direction.
//
// Stored record: the base record, ColumnID, Collation, CollationFromColumn,
// Descending. Structure-only: the base record in that form, the column's
// name and Collation.
class TBRNIndexColumn : public TBRNColumnReference {
 public:
  explicit TBRNIndexColumn(TBRNCatalog* catalog);

  int32_t Collation = 0;
  bool CollationFromColumn = true;
  bool Descending = false;

  [[noreturn]] virtual void RaiseBlobInIndex() const;
  [[noreturn]] virtual void RaiseNotTextColumn() const;

  // The index that holds this column (nullptr outside one).
  TBRNIndex* GetIndex() const;
  // The column list the ID refers to (nullptr when the index has no table).
  TBRNColumns* GetTableColumns() const;

  // Takes the column's ID and collation; nullptr or the same column leaves
  // ID and collation as they are.
  void SetColumn(TBRNColumn* column) override;
  // Explicit collation; only for character and CLOB columns.
  void SetCollation(int32_t collation);
  void SetDescending(bool on);
  // The column's type changed: a column that is no longer a character or
  // CLOB column loses its collation.
  void ColumnTypeChanged(TBRNColumn* column);

  std::string GetObjectTypeName() const override;
  TBRNConfigObject* GetRootObject() override;
  // Internal indexes register no references.
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  // Follows any column with ColumnID, without resolving the column.
  void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void Validate() override;
  std::string GetCreateSQL(bool option1, bool option2) override;

 protected:
  TBRNColumns* lookupColumns() const override;
  TBRNConfigObject* holderObject() const override;
  bool isSameKind(const TBRNColumnReference& other) const override;
};

// The key columns of an index, in key order, with the key and page size
// derived from them (recomputed after every change, load and validation).
class TBRNIndexColumns : public TBRNCollection<TBRNIndexColumn, TBRNColumnReferences> {
 public:
  explicit TBRNIndexColumns(TBRNCatalog* catalog);

  int32_t KeySize = 0;
  int32_t PageSize = 0;

  TBRNIndexColumn* GetItem(int32_t index) const;
  // Recomputes PageSize when the size changes.
  void SetKeySize(int32_t size);
  // Text index: IndexedWordLength + 3; otherwise the sum of each column's
  // Size + 1 (a column the table lacks adds nothing); without a table the
  // sizes stay as they are. Never raises.
  void ComputeKeySize();

  std::string GetObjectTypeName() const override;
  void Changed() override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void Validate() override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
};

// An index of a table: ordinary, enforcing index of a primary, foreign or
// unique key, or text index.
//
// Stored record (version: the index list's): the base record, IndexType,
// the index columns; types 1-3 OwnerConstraintID; type 4
// IndexedWordLength, FilterTypeColumnID and, from 2.03, WordGeneratorName,
// before it WordGeneratorID. Structure-only: base, IndexType, the columns
// in that form and, for text indexes, IndexedWordLength.
class TBRNIndex : public TBRNCatalogObject {
 public:
  explicit TBRNIndex(TBRNCatalog* catalog);
  ~TBRNIndex() override;

  int32_t IndexType = kIndexOrdinary;
  bool IsPrimaryKey = false;
  std::unique_ptr<TBRNIndexColumns> Columns;
  int32_t OwnerConstraintID = 0;
  int32_t IndexedWordLength = kDefaultIndexedWordLength;
  int32_t FilterTypeColumnID = 0;
  int32_t WordGeneratorID = 0;
  std::string WordGeneratorName;
  bool RebuildNeeded = false;
  std::string AlterSQL;

  [[noreturn]] virtual void RaiseWordLengthTooSmall() const;
  [[noreturn]] virtual void RaiseWordLengthTooLarge() const;
  [[noreturn]] virtual void RaiseFilterColumnNotChar() const;

  // The index list and the table that holds it (nullptr when none).
  TBRNIndexes* GetIndexes() const;
  TBRNConfigObject* GetTable() const;
  TBRNTableHolder* GetTableHolder() const;

  // Setters mark the index modified only when the value changes.
  void SetIndexType(int32_t value);
  void SetOwnerConstraint(TBRNConfigObject* constraint);
  void SetIndexedWordLength(int32_t value);
  void SetFilterTypeColumn(TBRNColumn* column);
  void SetWordGenerator(TBRNWordGenerator* generator);
  // The owning constraint among the table's constraints (401 when missing,
  // nullptr on a working copy or without one).
  TBRNConfigObject* GetOwnerConstraint();
  TBRNColumn* GetFilterTypeColumn();
  // The named (from 2.03) or numbered generator, else the built-in
  // "Default" one; nullptr without a configuration.
  TBRNWordGenerator* GetWordGenerator();
  // An Internal index named "__OrderBy", "__Distinct" or "__GroupBy".
  bool IsQueryResultIndex() const;
  std::string GetIndexDefinition(bool withDescriptions);
  // The words of text as this text index keys them (each cut to
  // IndexedWordLength characters), under the first column's collation, by
  // the built-in extraction or the index's word generator module.
  std::unique_ptr<TBRNWordList> BuildWordList(const std::string& text, bool searchMode);
  // text through the configuration's text filter for filterType; unchanged
  // when there is none.
  std::string FilterText(const std::string& filterType, const std::string& text);

  void SetInternal(bool value) override;
  void SetSystem(bool value) override;
  void SetTransient(bool value) override;
  void SetTemporary(bool value) override;
  std::string GetObjectTypeName() const override;
  void ResetLinks() override;
  // Every table and view of the Default schema registers its references.
  void CollectReferrers() override;
  TBRNConfigObject* GetRootObject() override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  void RemoveReferenceTo(TBRNConfigObject* target) override;
  void AddToSelection(TBRNSelectedConfigObjects* selection) override;
  void ComputeDifference(int32_t kind, TBRNConfigObject* other, char terminator) override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  void ResetAllLinks() override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void Validate() override;
  void CheckNotSystem() const override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetAlterSQL() override;
  std::string GetDropSQL(bool option1, bool option2) override;

  bool IsTextIndex() const { return IndexType == kIndexText; }
  bool IsConstraintIndex() const {
    return IndexType >= kIndexPrimaryKey && IndexType <= kIndexUnique;
  }

 private:
  int64_t storedVersion() const;
  std::string filterColumnName();

  TBRNObjectLink ownerConstraint_;
  TBRNObjectLink filterTypeColumn_;
  TBRNObjectLink wordGenerator_;
};

// The indexes of a table or view.
class TBRNIndexes : public TBRNCollection<TBRNIndex, TBRNCatalogObjects, kMaxIndexCount> {
 public:
  using TBRNCollection::TBRNCollection;

  TBRNIndex* GetItem(int32_t index) const;
  // Position of the first index of the type, -1 when none.
  int32_t IndexOfType(int32_t type) const;
  // The column list the index columns refer to: the owning table's.
  virtual TBRNColumns* GetColumns() const;
  // The index that best serves node (a column reference or a row value of
  // column references): same names, collations of character columns and
  // one direction; the smallest key wins, the earlier on a tie. -1: none.
  int32_t FindBestIndex(const TBRNExprToken* node) const;
  // The first text index whose leading columns match node's references in
  // name and collation (the column's own collation also finds an index
  // built case-insensitively from it). -1: none.
  int32_t FindTextIndex(const TBRNExprToken* node) const;

  std::string GetObjectTypeName() const override;
};

}  // namespace brn
