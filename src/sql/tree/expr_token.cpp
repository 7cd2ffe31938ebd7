#include "sql/tree/expr_token.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "foundation/core/numeric_helpers.h"
#include "foundation/text/collation.h"
#include "foundation/values/contained_value.h"
#include "sql/tree/expr_tree_algorithms.h"

namespace brn {

namespace {

// Collation flag bits.
constexpr int32_t caseInsensitiveBit = 1 << 20;
constexpr int32_t accentInsensitiveBit = 1 << 21;
constexpr int32_t kanaInsensitiveBit = 1 << 22;
constexpr int32_t widthInsensitiveBit = 1 << 23;

// The argument capacity grows in steps of this many slots.
constexpr int32_t argumentStep = 8;

void setBit(int32_t& bits, int32_t bit, bool flag) {
  bits = flag ? (bits | bit) : (bits & ~bit);
}

void checkIndex(int32_t index, int32_t count, const char* what) {
  if (index < 0 || index >= count) throw std::out_of_range(what);
}

}  // namespace

TBRNExprToken::TBRNExprToken() = default;
TBRNExprToken::~TBRNExprToken() = default;

void TBRNExprToken::SetOwnValue(std::unique_ptr<TBRNValue> NewValue) {
  FOwnValue = std::move(NewValue);
  Value = FOwnValue.get();
}

void TBRNExprToken::FreeValue() {
  Value = nullptr;
  FOwnValue.reset();
}

std::unique_ptr<TBRNValue> TBRNExprToken::ReleaseOwnValue() {
  Value = nullptr;
  return std::move(FOwnValue);
}

TBRNExprToken* TBRNExprToken::Create() const {
  return new TBRNExprToken();
}

void TBRNExprToken::Assign(TBRNExprToken* Source, bool WithChildren) {
  if (Source == this)
    throw std::invalid_argument("TBRNExprToken::Assign: a node cannot assign itself");
  Text = Source->Text;
  Kind = Source->Kind;
  Operation = Source->Operation;
  Variant = Source->Variant;
  DataType = Source->DataType;
  SubType = Source->SubType;
  Size = Source->Size;
  Scale = Source->Scale;
  Collation = Source->Collation;
  PartialLength = Source->PartialLength;
  OptimizeLevel = Source->OptimizeLevel;
  CostEliminated = Source->CostEliminated;
  RowCount = Source->RowCount;
  EstimatedCost = Source->EstimatedCost;
  ScanName = Source->ScanName;
  HintColumns = Source->HintColumns;
  IndexNumber = Source->IndexNumber;
  EvaluationOrder = Source->EvaluationOrder;
  Parenthesized = Source->Parenthesized;
  Line = Source->Line;
  Column = Source->Column;
  Position = Source->Position;
  Breakpoint = Source->Breakpoint;
  DatabaseName = Source->DatabaseName;
  SchemaName = Source->SchemaName;
  Link = Source->Link;
  JoinTable = Source->JoinTable;
  Name = Source->Name;
  ObjectID = Source->ObjectID;
  Alias = Source->Alias;
  Index = Source->Index;
  Hidden = Source->Hidden;
  // A node that takes over one of its own operands keeps its place in the
  // tree rather than becoming its own parent.
  if (Source->Parent != this) Parent = Source->Parent;
  RuntimeObject = Source->RuntimeObject;
  this->Source = Source;

  FLeft = nullptr;
  FRight = nullptr;
  FArguments.clear();
  if (WithChildren) {
    SetLeft(std::exchange(Source->FLeft, nullptr));
    SetRight(std::exchange(Source->FRight, nullptr));
    reserveArguments(Source->FArguments.size());
    for (TBRNExprToken* argument : Source->FArguments) AddArgument(argument);
    Source->FArguments.clear();
  } else {
    SetArgumentCount(Source->ArgumentCount());
  }
}

bool TBRNExprToken::Equals(const TBRNExprToken* Other, bool CompareLiterals) const {
  if (Kind != Other->Kind || Operation != Other->Operation || Variant != Other->Variant ||
      DataType != Other->DataType || SubType != Other->SubType || Size != Other->Size ||
      Scale != Other->Scale || Collation != Other->Collation ||
      PartialLength != Other->PartialLength)
    return false;
  if (!TextEqualsIgnoreCase(DatabaseName, Other->DatabaseName) ||
      !TextEqualsIgnoreCase(SchemaName, Other->SchemaName) ||
      !TextEqualsIgnoreCase(Alias, Other->Alias) || !TextEqualsIgnoreCase(Name, Other->Name))
    return false;
  if (CompareLiterals && Kind == tkConstant) {
    // The case of a character literal is part of its value; the other
    // literal forms (TRUE, X'1f', 1e5) mean the same in either case.
    if (IsTextDataType(DataType, SubType)) return TextEqualsExact(Text, Other->Text);
    return TextEqualsIgnoreCase(Text, Other->Text);
  }
  return true;
}

int64_t TBRNExprToken::OwnMemorySize() const {
  int64_t size = sizeof(TBRNExprToken);
  size += int64_t(Text.size() + ScanName.size() + HintColumns.size() + DatabaseName.size() +
                  SchemaName.size() + Name.size() + Alias.size());
  size += int64_t(FArgumentCapacity) * int64_t(sizeof(TBRNExprToken*));
  if (auto* contained = dynamic_cast<const TBRNContainedValue*>(FOwnValue.get()))
    size += contained->GetMemorySize();
  return size;
}

int64_t TBRNExprToken::MemorySize() const {
  int64_t size = 0;
  ForEachNode(this, [&size](const TBRNExprToken* Node) { size += Node->OwnMemorySize(); });
  return size;
}

void TBRNExprToken::SetLeft(TBRNExprToken* Node) {
  FLeft = Node;
  if (Node) Node->Parent = this;
}

void TBRNExprToken::SetRight(TBRNExprToken* Node) {
  FRight = Node;
  if (Node) Node->Parent = this;
}

TBRNExprToken* TBRNExprToken::Argument(int32_t Index) const {
  checkIndex(Index, ArgumentCount(), "TBRNExprToken::Argument: index out of range");
  return FArguments[size_t(Index)];
}

void TBRNExprToken::reserveArguments(size_t Count) {
  if (Count > size_t(INT32_MAX)) throw std::length_error("TBRNExprToken: too many arguments");
  if (int32_t(Count) <= FArgumentCapacity) return;
  // Geometric growth: a list of n arguments built one by one (an IN list,
  // CASE arms) is copied O(n) times in all, not once per few arguments.
  const int64_t doubled = std::min<int64_t>(int64_t(FArgumentCapacity) * 2, INT32_MAX);
  FArgumentCapacity = std::max(RoundUpToMultiple(int32_t(Count), argumentStep), int32_t(doubled));
  FArguments.reserve(size_t(FArgumentCapacity));
}

void TBRNExprToken::AddArgument(TBRNExprToken* Node) {
  reserveArguments(FArguments.size() + 1);
  FArguments.push_back(Node);
  if (Node) Node->Parent = this;
}

void TBRNExprToken::InsertArgument(int32_t Index, TBRNExprToken* Node) {
  checkIndex(Index, ArgumentCount() + 1, "TBRNExprToken::InsertArgument: index out of range");
  reserveArguments(FArguments.size() + 1);
  FArguments.insert(FArguments.begin() + Index, Node);
  if (Node) Node->Parent = this;
}

void TBRNExprToken::DeleteArgument(int32_t Index) {
  checkIndex(Index, ArgumentCount(), "TBRNExprToken::DeleteArgument: index out of range");
  FArguments.erase(FArguments.begin() + Index);
}

void TBRNExprToken::SetArgument(int32_t Index, TBRNExprToken* Node) {
  checkIndex(Index, ArgumentCount(), "TBRNExprToken::SetArgument: index out of range");
  FArguments[size_t(Index)] = Node;
  if (Node) Node->Parent = this;
}

void TBRNExprToken::SetArgumentCount(int32_t Count) {
  if (Count < 0) throw std::out_of_range("TBRNExprToken::SetArgumentCount: negative count");
  reserveArguments(size_t(Count));
  FArguments.resize(size_t(Count), nullptr);
}

void TBRNExprToken::SetDataType(TBRNDataTypeCode NewType) {
  if (NewType == DataType) return;
  int32_t dataSize = 0;
  NormalizeDataType(NewType, DataType, SubType, Size, dataSize, Scale, Collation);
}

void TBRNExprToken::SetSubType(TBRNDataSubType NewSubType) {
  if (NewSubType == SubType) return;
  int32_t dataSize = 0;
  NormalizeDataSubType(DataType, NewSubType, SubType, Size, dataSize, Scale, Collation);
}

void TBRNExprToken::SetSize(int32_t NewSize) {
  if (NewSize == Size) return;
  int32_t dataSize = 0;
  NormalizeDataLength(DataType, SubType, NewSize, false, dataSize, Size);
}

void TBRNExprToken::SetScale(int32_t NewScale) {
  if (NewScale == Scale) return;
  NormalizeScale(DataType, SubType, NewScale, Scale);
}

void TBRNExprToken::AssignDataType(const TBRNExprToken* Other) {
  DataType = Other->DataType;
  SubType = Other->SubType;
  Size = Other->Size;
  Scale = Other->Scale;
  Collation = Other->Collation;
  if (Kind == tkDynamicParam && (DataType == dtChar || DataType == dtBytes) && SubType == stDefault)
    Size = 0;
}

void TBRNExprToken::MakeVarying() {
  if (DataType == dtChar && SubType != stDefault) SubType = stDefault;
}

bool TBRNExprToken::IsCaseInsensitive() const {
  return (Collation & caseInsensitiveBit) != 0;
}

void TBRNExprToken::SetCaseInsensitive(bool Flag) {
  setBit(Collation, caseInsensitiveBit, Flag);
}

void TBRNExprToken::SetAccentInsensitive(bool Flag) {
  setBit(Collation, accentInsensitiveBit, Flag);
}

void TBRNExprToken::SetKanaInsensitive(bool Flag) {
  setBit(Collation, kanaInsensitiveBit, Flag);
}

void TBRNExprToken::SetWidthInsensitive(bool Flag) {
  setBit(Collation, widthInsensitiveBit, Flag);
}

bool TBRNExprToken::IsNullConstant() const {
  return Kind == tkConstant && DataType == dtNull && TextEqualsIgnoreCase(Text, "NULL");
}

void TBRNExprToken::CopyPosition(const TBRNExprToken* Other) {
  Line = Other->Line;
  Column = Other->Column;
  Position = Other->Position;
}

namespace {

// Makes the bare copies of every node (fields, operands and arguments at the
// same positions).
TBRNExprToken* copyNodes(const TBRNExprToken* root) {
  // Assign never changes a source it does not take children from.
  auto bareCopy = [](const TBRNExprToken* from) {
    TBRNExprToken* copy = from->Create();
    copy->Assign(const_cast<TBRNExprToken*>(from), false);
    return copy;
  };
  TBRNExprToken* rootCopy = nullptr;
  // The copies of the open nodes: the last one holds the node being entered.
  std::vector<TBRNExprToken*> holders;
  try {
    WalkExprTree(
        root,
        [&](const TBRNExprToken* from, int32_t slot) {
          TBRNExprToken* copy = bareCopy(from);
          if (slot == tsRoot) {
            copy->Parent = nullptr;
            rootCopy = copy;
          } else if (slot == tsLeft) {
            holders.back()->SetLeft(copy);
          } else if (slot == tsRight) {
            holders.back()->SetRight(copy);
          } else {
            holders.back()->SetArgument(slot, copy);
          }
          holders.push_back(copy);
          return TBRNWalkStep::Descend;
        },
        [&](const TBRNExprToken*) { holders.pop_back(); });
  } catch (...) {
    FreeExprTree(rootCopy);
    throw;
  }
  return rootCopy;
}

// Points Link and JoinTable of the copy at the copied select items and table
// references: a reference is redirected when it names the original of such a
// node and lies inside that node's enclosing query (the nearest tkQuery
// ancestor within the copy, or the whole copy when there is none).
void relinkCopy(TBRNExprToken* root) {
  struct Target {
    TBRNExprToken* Copy;
    const TBRNExprToken* Scope;
  };
  std::unordered_map<const TBRNExprToken*, Target> targets;
  {
    // The innermost query around the node being entered (the root stands
    // for the whole copy).
    std::vector<const TBRNExprToken*> queries{root};
    WalkExprTree(
        root,
        [&](TBRNExprToken* node, int32_t) {
          if ((node->Kind == tkSelectItem || node->Kind == tkTableReference) && node->Source)
            targets[node->Source] = {node, queries.back()};
          if (node->Kind == tkQuery) queries.push_back(node);
          return TBRNWalkStep::Descend;
        },
        [&](TBRNExprToken* node) {
          if (node->Kind == tkQuery) queries.pop_back();
        });
  }
  if (targets.empty()) return;
  // Walk again, knowing the queries that enclose the current node.
  std::unordered_set<const TBRNExprToken*> openScopes{root};
  auto redirect = [&](TBRNExprToken*& reference) {
    if (!reference) return;
    auto found = targets.find(reference);
    if (found != targets.end() && openScopes.count(found->second.Scope))
      reference = found->second.Copy;
  };
  WalkExprTree(
      root,
      [&](TBRNExprToken* node, int32_t) {
        if (node->Kind == tkQuery) openScopes.insert(node);
        redirect(node->Link);
        redirect(node->JoinTable);
        return TBRNWalkStep::Descend;
      },
      [&](TBRNExprToken* node) {
        if (node->Kind == tkQuery && node != root) openScopes.erase(node);
      });
}

}  // namespace

TBRNExprToken* CopyExprTree(const TBRNExprToken* Node) {
  if (!Node) return nullptr;
  TBRNExprToken* copy = copyNodes(Node);
  try {
    relinkCopy(copy);
  } catch (...) {
    FreeExprTree(copy);
    throw;
  }
  return copy;
}

bool ExprTreesEqual(const TBRNExprToken* A, const TBRNExprToken* B) {
  if (!A || !B) return A == B;
  // Walks A; the last of counterparts is the node of B that faces the node
  // of A being entered. Each pair is compared before its children are
  // entered, nil positions included, so the children pair up slot by slot.
  std::vector<const TBRNExprToken*> counterparts;
  auto sameShape = [](const TBRNExprToken* a, const TBRNExprToken* b) {
    if (a->ArgumentCount() != b->ArgumentCount() || !a->Equals(b, true)) return false;
    if (!a->Left() != !b->Left() || !a->Right() != !b->Right()) return false;
    for (int32_t i = 0; i < a->ArgumentCount(); ++i)
      if (!a->Arguments()[size_t(i)] != !b->Arguments()[size_t(i)]) return false;
    return true;
  };
  return WalkExprTree(
      A,
      [&](const TBRNExprToken* a, int32_t slot) {
        const TBRNExprToken* b = slot == tsRoot    ? B
                                 : slot == tsLeft  ? counterparts.back()->Left()
                                 : slot == tsRight ? counterparts.back()->Right()
                                                   : counterparts.back()->Arguments()[size_t(slot)];
        if (!sameShape(a, b)) return TBRNWalkStep::Stop;
        counterparts.push_back(b);
        return TBRNWalkStep::Descend;
      },
      [&](const TBRNExprToken*) { counterparts.pop_back(); });
}

void FreeExprTree(TBRNExprToken*& Node) {
  // Children are freed before their holder, which the walk then no longer
  // reads.
  ForEachNodePostOrder(std::exchange(Node, nullptr), [](TBRNExprToken* node) { delete node; });
}

}  // namespace brn
