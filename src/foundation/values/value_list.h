#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "foundation/values/row_image.h"

namespace brn {

class TBRNMemoryStream;
class TBRNValue;

using TBRNValuesArray = std::vector<TBRNValue*>;

// The most values any list reads from a stream (a table has at most 2048
// columns); a list that knows its column or parameter count reads no more.
inline constexpr int32_t MaxStreamValueCount = 65535;

// The ordered list of values through which the engine handles every tuple:
// the columns of a row, the parameters of a statement, array values and the
// keys of index entries. The class itself is an owning list: it frees its
// values and creates missing ones when it loads. A reference list
// (TBRNValueReferences below) only refers to values kept elsewhere; which
// kind a list is follows from its type.
//
// Capacity grows and shrinks in steps of 8; the slots beyond Count are nullptr.
// Delete and Clear never free: whoever removes a value from an owning list
// frees it.
//
// Stream form: int32 count, then each value's stream form.
class TBRNValues {
 public:
  TBRNValues() = default;
  TBRNValues(const TBRNValues&) = delete;
  TBRNValues& operator=(const TBRNValues&) = delete;
  // Frees the values of an owning list.
  virtual ~TBRNValues();

  // True for an owning list, false for a reference list.
  virtual bool GetOwnsValues() const { return true; }
  int32_t GetCount() const { return Count; }
  int32_t GetCapacity() const { return Capacity; }
  // The item at Index (0 <= Index < Count, else std::out_of_range); nullptr
  // where a slot was never filled. Inline: evaluators read row values
  // through it once per column reference and row.
  TBRNValue* GetItem(int32_t Index) const {
    if (Index < 0 || Index >= Count) throw std::out_of_range("TBRNValues: index out of range");
    return Items[size_t(Index)];
  }

  // The value for an empty slot of an owning list that is loading; the base
  // list creates none (subclasses that load into empty lists do).
  virtual TBRNValue* CreateValue(int32_t Index);
  // Stores N as Count without resizing (0 <= N <= Capacity, else
  // std::out_of_range).
  virtual void SetCount(int32_t N);
  virtual void Add(TBRNValue* Value);
  // Inserts before Index (0 <= Index <= Count).
  virtual void Insert(int32_t Index, TBRNValue* Value);
  // Removes the item without freeing it; nothing on an empty list.
  virtual void Delete(int32_t Index);
  // Forgets every item without freeing it; the capacity stays.
  virtual void Clear();
  virtual void SetAllNull();
  // An owning list assigns the data of its items from Source's, as far as
  // both reach; a non-owning list takes Source's references.
  virtual void Assign(const TBRNValues& Source);
  // Item by item until one differs; equal prefixes give 0, so a shorter list
  // equals its longer extension. Text items compare under their own
  // collation; PartialLength applies to the last item of Other only.
  virtual int32_t Compare(const TBRNValues& Other, int32_t PartialLength, bool IgnoreCase) const;
  virtual void SaveToStream(TBRNMemoryStream& Stream) const;
  // Loads into the existing items. An empty slot of an owning list gets a
  // CreateValue; one of a non-owning list is skipped without consuming bytes.
  // A count that the remaining bytes cannot hold, or above
  // GetMaxStreamCount, raises error 1011 before anything is allocated or
  // changed.
  virtual void LoadFromStream(TBRNMemoryStream& Stream);

  // The capacity becomes N rounded up to 8; shrinking below Count frees the
  // surplus values of an owning list and cuts Count.
  void SetCapacity(int32_t N);
  // Frees every item and sets Count to 0.
  void FreeValues();

  // A list whose values read their data in place from one row image
  // answers that image (one call per evaluated row, so a reader pays no
  // call per column); every other list answers an empty one (Layout 0).
  virtual TBRNRowImage GetRowImage() const { return {}; }
  // Where column Index lies in that image; false when its value does not
  // read its data from the image (Cell is then unspecified).
  virtual bool GetImageCell(int32_t Index, TBRNImageCell& Cell) const {
    (void)Index;
    (void)Cell;
    return false;
  }

 protected:
  // How the list holds its values: an owning list here, a reference list in
  // TBRNValueReferences. A slot's value leaves the list (an owning list
  // frees it); the value for an empty slot while loading (CreateValue, or
  // nullptr to skip the slot); Assign's copy (the data of Source's values,
  // or Source's references).
  virtual void releaseSlot(int32_t Index);
  virtual TBRNValue* valueForEmptySlot(int32_t Index);
  virtual void assignValues(const TBRNValues& Source);
  // Source's references as this list's items.
  void takeReferences(const TBRNValues& Source);
  // Empties every slot without freeing (a reference list before the owning
  // destructor runs).
  void forgetValues();

  // The fewest bytes one item's stream form takes; bounds the count a stream
  // may announce.
  virtual int32_t MinimumItemStreamSize() const { return 1; }
  // The most values a stream may announce for this list: MaxStreamValueCount
  // here; a list that knows its column or parameter count answers that
  // (never more than MaxStreamValueCount).
  virtual int32_t GetMaxStreamCount() const { return MaxStreamValueCount; }
  // Compares item Index with Other's: a text item under textCollation and,
  // when Index is Other's last, PartialLength; other items whole.
  int32_t CompareItem(int32_t Index, const TBRNValues& Other, int32_t PartialLength,
                      bool IgnoreCase, int32_t textCollation) const;

  TBRNValuesArray Items;
  int32_t Capacity = 0;
  int32_t Count = 0;
};

// The values of an index key: a collation and a sort direction per key column
// and the row ID that makes a key of a non-unique index unique. Subclasses
// answer the column properties from an index definition or a cursor row. A
// key owns its values unless it is a reference list (keys over row values).
//
// Stream form: the list's, then the int32 row ID.
class TBRNKeyValues : public TBRNValues {
 public:
  // The list assignment, then the row ID of a key source.
  void Assign(const TBRNValues& Source) override;
  // As the list comparison, with the key columns' collations and each
  // descending column's result negated. An empty key is smaller than every
  // other key and equal to another empty key.
  int32_t Compare(const TBRNValues& Other, int32_t PartialLength, bool IgnoreCase) const override;
  void SaveToStream(TBRNMemoryStream& Stream) const override;
  void LoadFromStream(TBRNMemoryStream& Stream) override;

  virtual int32_t GetColumnCollation(int32_t Index) const = 0;
  virtual bool GetColumnDescending(int32_t Index) const = 0;
  // 0 where the index is unique.
  virtual int32_t GetRowID() const = 0;
  virtual void SetRowID(int32_t ID) = 0;
};

// A value list that refers to values kept elsewhere, over any list class: it
// frees none of them (not even in its destructor), takes Source's references
// on Assign and skips an empty slot when it loads. Valid while the values'
// owner keeps them.
template <typename TBase>
class TBRNValueReferences : public TBase {
 public:
  using TBase::TBase;
  // Forgets the values before the owning list's destructor would free them.
  ~TBRNValueReferences() override { this->forgetValues(); }

  bool GetOwnsValues() const override { return false; }

 protected:
  void releaseSlot(int32_t Index) override { this->Items[size_t(Index)] = nullptr; }
  TBRNValue* valueForEmptySlot(int32_t) override { return nullptr; }
  void assignValues(const TBRNValues& Source) override { this->takeReferences(Source); }
};

}  // namespace brn
