#include "sql/tree/expr_token.h"

#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "foundation/core/numeric_helpers.h"
#include "foundation/text/collation.h"
#include "foundation/values/contained_value.h"

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

// Pushes the children of node (Left, Right, arguments) on a work stack.
void pushChildren(const TBRNExprToken* node, std::vector<const TBRNExprToken*>& stack) {
  if (node->Left()) stack.push_back(node->Left());
  if (node->Right()) stack.push_back(node->Right());
  for (const TBRNExprToken* argument : node->Arguments())
    if (argument) stack.push_back(argument);
}

}  // namespace

TBRNExprToken::~TBRNExprToken() {
  DisposeAndNil(Value);
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
  if (auto* contained = dynamic_cast<const TBRNContainedValue*>(Value))
    size += contained->GetMemorySize();
  return size;
}

int64_t TBRNExprToken::MemorySize() const {
  int64_t size = 0;
  std::vector<const TBRNExprToken*> stack{this};
  while (!stack.empty()) {
    const TBRNExprToken* node = stack.back();
    stack.pop_back();
    size += node->OwnMemorySize();
    pushChildren(node, stack);
  }
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
  FArgumentCapacity = RoundUpToMultiple(int32_t(Count), argumentStep);
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
// same positions) without recursion.
TBRNExprToken* copyNodes(const TBRNExprToken* root) {
  struct Pending {
    const TBRNExprToken* From;
    TBRNExprToken* Copy;
  };
  // Assign never changes a source it does not take children from.
  auto bareCopy = [](const TBRNExprToken* from) {
    TBRNExprToken* copy = from->Create();
    copy->Assign(const_cast<TBRNExprToken*>(from), false);
    return copy;
  };
  TBRNExprToken* rootCopy = bareCopy(root);
  rootCopy->Parent = nullptr;
  std::vector<Pending> stack{{root, rootCopy}};
  try {
    while (!stack.empty()) {
      Pending item = stack.back();
      stack.pop_back();
      if (const TBRNExprToken* left = item.From->Left()) {
        item.Copy->SetLeft(bareCopy(left));
        stack.push_back({left, item.Copy->Left()});
      }
      if (const TBRNExprToken* right = item.From->Right()) {
        item.Copy->SetRight(bareCopy(right));
        stack.push_back({right, item.Copy->Right()});
      }
      for (int32_t i = 0; i < item.From->ArgumentCount(); ++i) {
        if (const TBRNExprToken* argument = item.From->Argument(i)) {
          item.Copy->SetArgument(i, bareCopy(argument));
          stack.push_back({argument, item.Copy->Argument(i)});
        }
      }
    }
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
    // Pre-order walk that knows the innermost query above each node.
    struct Visit {
      TBRNExprToken* Node;
      const TBRNExprToken* Query;
    };
    std::vector<Visit> stack{{root, root}};
    while (!stack.empty()) {
      Visit visit = stack.back();
      stack.pop_back();
      TBRNExprToken* node = visit.Node;
      if ((node->Kind == tkSelectItem || node->Kind == tkTableReference) && node->Source)
        targets[node->Source] = {node, visit.Query};
      const TBRNExprToken* query = node->Kind == tkQuery ? node : visit.Query;
      if (node->Left()) stack.push_back({node->Left(), query});
      if (node->Right()) stack.push_back({node->Right(), query});
      for (TBRNExprToken* argument : node->Arguments())
        if (argument) stack.push_back({argument, query});
    }
  }
  if (targets.empty()) return;
  // Walk again, knowing the queries that enclose the current node.
  struct Step {
    TBRNExprToken* Node;
    bool Leaving;
  };
  std::unordered_set<const TBRNExprToken*> openScopes{root};
  std::vector<Step> stack{{root, false}};
  auto redirect = [&](TBRNExprToken*& reference) {
    if (!reference) return;
    auto found = targets.find(reference);
    if (found != targets.end() && openScopes.count(found->second.Scope))
      reference = found->second.Copy;
  };
  while (!stack.empty()) {
    Step step = stack.back();
    stack.pop_back();
    TBRNExprToken* node = step.Node;
    if (step.Leaving) {
      if (node != root) openScopes.erase(node);
      continue;
    }
    if (node->Kind == tkQuery) {
      openScopes.insert(node);
      stack.push_back({node, true});
    }
    redirect(node->Link);
    redirect(node->JoinTable);
    if (node->Left()) stack.push_back({node->Left(), false});
    if (node->Right()) stack.push_back({node->Right(), false});
    for (TBRNExprToken* argument : node->Arguments())
      if (argument) stack.push_back({argument, false});
  }
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
  std::vector<std::pair<const TBRNExprToken*, const TBRNExprToken*>> stack{{A, B}};
  while (!stack.empty()) {
    auto [a, b] = stack.back();
    stack.pop_back();
    if (!a || !b) {
      if (a != b) return false;
      continue;
    }
    if (a->ArgumentCount() != b->ArgumentCount()) return false;
    if (!a->Equals(b, true)) return false;
    stack.push_back({a->Left(), b->Left()});
    stack.push_back({a->Right(), b->Right()});
    for (int32_t i = 0; i < a->ArgumentCount(); ++i)
      stack.push_back({a->Argument(i), b->Argument(i)});
  }
  return true;
}

void FreeExprTree(TBRNExprToken*& Node) {
  TBRNExprToken* root = std::exchange(Node, nullptr);
  if (!root) return;
  std::vector<const TBRNExprToken*> stack{root};
  while (!stack.empty()) {
    const TBRNExprToken* node = stack.back();
    stack.pop_back();
    pushChildren(node, stack);
    delete node;
  }
}

}  // namespace brn
