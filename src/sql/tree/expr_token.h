#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "foundation/types/data_types.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token_kind.h"

namespace brn {

class TBRNValue;
class TBRNExprToken;

// The run-time object (a cursor or a filter) that the execution layer hangs
// on a join entry. The tree never owns it.
class TBRNExprRuntimeObject {
 public:
  virtual ~TBRNExprRuntimeObject() = default;
};

// A dynamic array of node references (views: the array owns nothing).
using TBRNExprTokens = std::vector<TBRNExprToken*>;

// One node of a syntax tree. Every parsed construct is a tree of these.
//
// Ownership: a node owns Left, Right, every argument and its own run-time
// value (SetOwnValue). Value, Link, JoinTable, Source, RuntimeObject and
// Parent are plain references. Destroying a node frees its own value only;
// FreeExprTree frees a whole tree.
//
// Invariant: every non-nil Left, Right and argument has Parent equal to its
// holder; every setter below keeps it.
//
// Argument positions are fixed per kind and operation: an absent optional
// clause is a nil entry at its position, never a shorter list. The argument
// capacity grows to the next multiple of 8 that holds the count and never
// shrinks.
//
// A tree belongs to one session and is used by one thread at a time.
class TBRNExprToken {
 public:
  TBRNExprToken();
  virtual ~TBRNExprToken();
  TBRNExprToken(const TBRNExprToken&) = delete;
  TBRNExprToken& operator=(const TBRNExprToken&) = delete;

  // A new, empty node of the same class (used by CopyExprTree).
  virtual TBRNExprToken* Create() const;
  // Copies every field from Text to RuntimeObject except the argument
  // capacity and Value; references are copied as they are (Parent too), and
  // Source becomes Source. WithChildren: Left, Right and the arguments move
  // from Source to this node (re-parented; Source is left without operands
  // and arguments, so they never have two owners). Otherwise this node gets
  // nil operands and as many nil arguments as Source has; its previous
  // operands and arguments are forgotten, not freed (the caller owns them).
  // When Source is a child of this node (a node taking over an operand's
  // fields and children), this node keeps its own Parent. Source may not be
  // this node.
  virtual void Assign(TBRNExprToken* Source, bool WithChildren);
  // Compares the fields of this one node (operands and arguments are not
  // looked at): Kind, Operation, Variant, DataType, SubType, Size, Scale,
  // Collation and PartialLength exactly, DatabaseName, SchemaName, Alias and
  // Name ignoring case. With CompareLiterals the Text of a constant must match
  // too: exactly for a character constant (a literal changed from 'a' to 'A'
  // is a change), ignoring case for any other literal (TRUE and true, X'1f'
  // and X'1F'). Other is not nil.
  virtual bool Equals(const TBRNExprToken* Other, bool CompareLiterals) const;
  // The memory of this node alone: instance size, its strings, its argument
  // slots (capacity, not count) and a contained Value.
  virtual int64_t OwnMemorySize() const;
  // The memory of the whole subtree (OwnMemorySize summed without recursion).
  int64_t MemorySize() const;

  // Operands; the setters do not free a previous operand.
  TBRNExprToken* Left() const { return FLeft; }
  TBRNExprToken* Right() const { return FRight; }
  void SetLeft(TBRNExprToken* Node);
  void SetRight(TBRNExprToken* Node);

  // Arguments. Positions outside the list throw std::out_of_range.
  int32_t ArgumentCount() const { return int32_t(FArguments.size()); }
  int32_t ArgumentCapacity() const { return FArgumentCapacity; }
  TBRNExprToken* Argument(int32_t Index) const;
  std::span<TBRNExprToken* const> Arguments() const { return FArguments; }
  // Appends (nil allowed).
  void AddArgument(TBRNExprToken* Node);
  // Inserts at Index (0..ArgumentCount), shifting the following ones up.
  void InsertArgument(int32_t Index, TBRNExprToken* Node);
  // Removes without freeing, shifting the following ones down.
  void DeleteArgument(int32_t Index);
  // Replaces without freeing the old argument.
  void SetArgument(int32_t Index, TBRNExprToken* Node);
  // Sets the count; new positions are nil and the caller fills them. Dropped
  // positions are forgotten, not freed.
  void SetArgumentCount(int32_t Count);

  // Data type; each setter acts only when the new value differs and keeps the
  // descriptor consistent through the data-type rules.
  void SetDataType(TBRNDataTypeCode NewType);
  void SetSubType(TBRNDataSubType NewSubType);
  void SetSize(int32_t NewSize);
  void SetScale(int32_t NewScale);
  // Copies DataType, SubType, Size, Scale and Collation from Other; a
  // tkDynamicParam that gets a variable Char or Bytes type keeps Size 0.
  void AssignDataType(const TBRNExprToken* Other);
  // A character node with a non-zero subtype becomes variable (subtype 0).
  void MakeVarying();
  bool IsCaseInsensitive() const;
  void SetCaseInsensitive(bool Flag);
  void SetAccentInsensitive(bool Flag);
  void SetKanaInsensitive(bool Flag);
  void SetWidthInsensitive(bool Flag);
  // A constant of type NULL whose Text is "NULL" (any case).
  bool IsNullConstant() const;

  // Copies Line, Column and Position.
  void CopyPosition(const TBRNExprToken* Other);

  // The node's own run-time value, nullptr when it has none.
  TBRNValue* GetOwnValue() const { return FOwnValue.get(); }
  // Makes NewValue the node's own value (the previous one is freed) and
  // Value a view of it.
  void SetOwnValue(std::unique_ptr<TBRNValue> NewValue);
  // Frees the own value; Value becomes nullptr.
  void FreeValue();
  // Hands the own value to the caller (nullptr when none); Value becomes
  // nullptr and the node has no value.
  std::unique_ptr<TBRNValue> ReleaseOwnValue();

  // Fields in declared order (see the class comment for ownership).
  std::string Text;
  TBRNExprTokenKind Kind = tkNone;
  TBRNExprOperation Operation = opNone;
  int32_t Variant = 0;
  TBRNDataTypeCode DataType = dtNull;
  TBRNDataSubType SubType = 0;
  int32_t Size = 0;
  int32_t Scale = 0;
  int32_t Collation = 0;
  int32_t PartialLength = 0;
  int32_t OptimizeLevel = 0;
  int32_t CostEliminated = 0;
  int32_t RowCount = 0;
  int64_t EstimatedCost = 0;
  std::string ScanName;
  std::string HintColumns;
  int32_t IndexNumber = 0;
  int32_t EvaluationOrder = 0;
  bool Parenthesized = false;
  int32_t Line = 0;
  int32_t Column = 0;
  int32_t Position = 0;
  bool Breakpoint = false;
  std::string DatabaseName;
  std::string SchemaName;
  TBRNExprToken* Link = nullptr;
  TBRNExprToken* JoinTable = nullptr;
  std::string Name;
  int32_t ObjectID = 0;
  std::string Alias;
  int32_t Index = -1;
  bool Hidden = false;
  TBRNExprToken* Parent = nullptr;
  // The run-time value the node's parent reads (a view): the node's own
  // value, created once by an evaluator, or, for a column reference that
  // reads a row (RowSource), its column's value in the current row, set
  // anew on every evaluation. nullptr before the first evaluation. Parents
  // only read their operands' values; a routine writes its own node's.
  TBRNValue* Value = nullptr;
  TBRNExprRuntimeObject* RuntimeObject = nullptr;
  TBRNExprToken* Source = nullptr;
  // The row source, numbered when an evaluator prepares the tree: for a
  // table reference the entry of the evaluation's current rows that holds
  // its current row, for a column reference the entry whose row it reads
  // (its column's position in that row is Index). -1 when not numbered: a
  // column reference then reads its own value.
  int32_t RowSource = -1;

 private:
  void reserveArguments(size_t Count);

  TBRNExprToken* FLeft = nullptr;
  TBRNExprToken* FRight = nullptr;
  TBRNExprTokens FArguments;
  int32_t FArgumentCapacity = 0;
  std::unique_ptr<TBRNValue> FOwnValue;
};

// A deep copy of Node (nil for nil). Links and join tables inside the copy
// that pointed at a copied select item or table reference of the same query
// point at its copy; links to nodes outside the copied subtree stay. Every
// copy's Source is the node it was copied from; the copy's root has no
// Parent. Works without recursion, so any depth is fine.
TBRNExprToken* CopyExprTree(const TBRNExprToken* Node);
// Structural equality: both nil, or equal Left, Right and arguments (a nil
// facing a non-nil is unequal) and TBRNExprToken::Equals with literals
// compared. Works without recursion.
bool ExprTreesEqual(const TBRNExprToken* A, const TBRNExprToken* B);
// Frees the whole tree under Node (nil allowed) and clears the variable.
// Works without recursion.
void FreeExprTree(TBRNExprToken*& Node);

}  // namespace brn
