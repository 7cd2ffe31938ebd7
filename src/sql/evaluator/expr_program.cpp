// The flat program of a prepared tree: compiling the covered nodes into
// typed instructions, binding the row sources per evaluation and running
// the instructions. Each instruction does what the evaluator's routine for
// its node does for the operand types it was compiled for; the rest goes to
// those routines.
#include "sql/evaluator/expr_program.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "foundation/core/byte_order.h"
#include "foundation/text/collation.h"
#include "foundation/values/contained_value.h"
#include "foundation/values/value.h"
#include "foundation/values/value_list.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/value_access.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

// Nodes nested deeper than this are handed to the evaluator, whose chain
// walk bounds its stack; normal conditions stay far below it.
constexpr int32_t MaxDepth = 64;

bool IsIntegerType(TBRNDataTypeCode Type) {
  return Type == dtSmallInt || Type == dtInteger || Type == dtBigInt;
}

// The column and constant types the program reads.
bool IsReadType(TBRNDataTypeCode Type) {
  return IsIntegerType(Type) || Type == dtFloat || Type == dtBoolean || Type == dtChar;
}

// The image cell kinds that hold a value of Type as its getters read it.
bool CellHolds(TBRNImageCellKind Kind, TBRNDataTypeCode Type) {
  switch (Type) {
    case dtBoolean:
      return Kind == TBRNImageCellKind::Boolean;
    case dtSmallInt:
      return Kind == TBRNImageCellKind::SmallInt;
    case dtInteger:
      return Kind == TBRNImageCellKind::Int32;
    case dtBigInt:
      return Kind == TBRNImageCellKind::Int64;
    case dtFloat:
      return Kind == TBRNImageCellKind::Float;
    case dtChar:
      return Kind == TBRNImageCellKind::FixedChars || Kind == TBRNImageCellKind::VariableChars;
    default:
      return false;
  }
}

bool IsComparison(TBRNExprOperation Operation) {
  switch (Operation) {
    case opEqual:
    case opNotEqual:
    case opGreater:
    case opGreaterOrEqual:
    case opLess:
    case opLessOrEqual:
      return true;
    default:
      return false;
  }
}

// The length of the literal prefix of a pattern that is that prefix and a
// run of '%', matched under a binary collation; -1 for any other pattern
// or collation. Such a match is a byte comparison of the prefix: the
// matcher compares equal-length pieces, where ignoring trailing blanks
// changes nothing, and a text cut at a character 0 before the prefix's end
// cannot equal a prefix without one.
int32_t LiteralPrefixLength(const char* Pattern, int32_t Length, int32_t Collation) {
  const uint32_t bits = uint32_t(Collation);
  if ((bits & ~uint32_t(CollationFlagMask)) != 0 || (bits & (1u << CaseInsensitiveBit)) != 0)
    return -1;
  int32_t prefix = 0;
  while (prefix < Length && Pattern[prefix] != '%') {
    if (Pattern[prefix] == '_' || Pattern[prefix] == '\0') return -1;
    ++prefix;
  }
  if (prefix == Length) return -1;
  for (int32_t i = prefix; i < Length; ++i)
    if (Pattern[i] != '%') return -1;
  return prefix;
}

bool MatchesPrefix(const char* Text, int32_t Length, const char* Prefix, int32_t PrefixLength) {
  if (Length < PrefixLength) return false;
  // Usual prefixes are a few characters: a loop beats a library call.
  for (int32_t i = 0; i < PrefixLength; ++i)
    if (Text[i] != Prefix[i]) return false;
  return true;
}

// The jump form's targets that end the run with TRUE or FALSE.
constexpr int32_t AcceptTarget = -1;
constexpr int32_t RejectTarget = -2;

// Integer arithmetic of width T as the evaluator does it: wrapping around
// (computed unsigned, so that no overflow is undefined).
template <typename T, typename Op>
int64_t Wrapped(int64_t A, int64_t B, Op op) {
  using U = std::make_unsigned_t<T>;
  return T(U(op(U(T(A)), U(T(B)))));
}

int32_t Ordered(int64_t A, int64_t B) {
  return A < B ? -1 : (A > B ? 1 : 0);
}
int32_t OrderedFloat(double A, double B) {
  return A < B ? -1 : (A > B ? 1 : 0);
}

}  // namespace

TBRNExprProgram::TBRNExprProgram(TBRNExprToken* Root, bool StandardNullBehavior)
    : FRoot(Root), FStandardNullBehavior(StandardNullBehavior) {}

TBRNExprProgram::~TBRNExprProgram() = default;

std::unique_ptr<TBRNExprProgram> TBRNExprProgram::Compile(TBRNExprEvaluator& Evaluator,
                                                          TBRNExprToken* Root) {
  if (Root == nullptr || !TBRNExprEvaluator::IsComputedKind(Root->Kind)) return nullptr;
  std::unique_ptr<TBRNExprProgram> program(
      new TBRNExprProgram(Root, Evaluator.StandardNullBehavior));
  TOperand result;
  if (!program->emitCovered(Evaluator, Root, 0, result)) return nullptr;
  program->FResult = result;
  // The row sources, each with the columns read from it.
  for (size_t i = 0; i < program->FColumns.size(); ++i) {
    TColumn& column = program->FColumns[i];
    int32_t number = column.Node->RowSource;
    auto found = std::find_if(program->FSources.begin(), program->FSources.end(),
                              [number](const TSource& S) { return S.Number == number; });
    if (found == program->FSources.end()) {
      program->FSources.emplace_back();
      program->FSources.back().Number = number;
      found = program->FSources.end() - 1;
    }
    column.Source = int32_t(found - program->FSources.begin());
    found->Columns.push_back(int32_t(i));
  }
  program->compileJumps();
  return program;
}

int32_t TBRNExprProgram::newRegister() {
  FRegisters.emplace_back();
  return int32_t(FRegisters.size()) - 1;
}

void TBRNExprProgram::rollBack(size_t Code, size_t Columns) {
  for (size_t i = Code; i < FCode.size(); ++i)
    if (FCode[i].Op == TOp::Tree) --FTreeNodeCount;
  FCode.resize(Code);
  FColumns.resize(Columns);
}

TBRNExprProgram::TOperand TBRNExprProgram::emitTree(TBRNExprToken* Node, bool Bool) {
  TOperand result;
  result.Register = newRegister();
  result.Kind = TKind::Bool;
  result.Type = Node->DataType;
  result.Tree = true;
  TInstruction instruction{TOp::Tree};
  instruction.Target = result.Register;
  instruction.Node = Node;
  // Aux: whether the truth is wanted (the hand-overs of AND, OR and NOT).
  instruction.Aux = Bool ? 1 : 0;
  FCode.push_back(instruction);
  ++FTreeNodeCount;
  return result;
}

TBRNExprProgram::TOperand TBRNExprProgram::emit(TBRNExprEvaluator& Evaluator, TBRNExprToken* Node,
                                                int32_t Depth) {
  TOperand result;
  if (emitCovered(Evaluator, Node, Depth, result)) return result;
  return emitTree(Node, true);
}

bool TBRNExprProgram::emitConstant(TBRNExprToken* Node, TOperand& Result) {
  if (Node->IsNullConstant() || !IsReadType(Node->DataType)) return false;
  // Converted as the evaluator converts it when it gives the constant its
  // value; a literal that does not convert is left to the evaluator, which
  // raises its error when the constant is evaluated.
  TBRNContainedValue value;
  value.SetRaiseOnTruncation(false);
  TRegister reg;
  try {
    value.SetDataType(Node->DataType);
    value.SetDataSubType(Node->SubType);
    value.SetLength(Node->Size);
    value.SetScale(Node->Scale);
    value.SetCollation(Node->Collation);
    value.SetAsString(Node->Text);
    switch (Node->DataType) {
      case dtBoolean:
        reg.I = value.GetBooleanData() ? 1 : 0;
        break;
      case dtSmallInt:
        reg.I = value.GetSmallIntData();
        break;
      case dtInteger:
        reg.I = value.GetInt32Data();
        break;
      case dtBigInt:
        reg.I = value.GetInt64Data();
        break;
      case dtFloat:
        reg.F = value.GetFloatData();
        break;
      default: {
        int32_t length = 0;
        const char* chars = value.GetStringBuffer(length);
        FTexts.emplace_back(chars == nullptr ? std::string() : std::string(chars, size_t(length)));
        reg.S = FTexts.back().data();
        reg.L = int32_t(FTexts.back().size());
        reg.Collation = value.GetCollation();
        break;
      }
    }
  } catch (...) {
    return false;
  }
  reg.Null = false;
  Result.Register = newRegister();
  FRegisters[size_t(Result.Register)] = reg;
  Result.Type = Node->DataType;
  Result.Kind = Node->DataType == dtBoolean ? TKind::Bool
                : Node->DataType == dtFloat ? TKind::Float
                : Node->DataType == dtChar  ? TKind::Text
                                            : TKind::Int;
  return true;
}

bool TBRNExprProgram::emitColumn(TBRNExprToken* Node, TOperand& Result) {
  if (Node->RowSource < 0 || Node->Index < 0 || !IsReadType(Node->DataType)) return false;
  TColumn column;
  column.Index = Node->Index;
  column.Type = Node->DataType;
  column.Node = Node;
  column.Collation = Node->Collation;
  column.Register = newRegister();
  TInstruction instruction{TOp::Column};
  instruction.Target = column.Register;
  instruction.Aux = int32_t(FColumns.size());
  instruction.Node = Node;
  FColumns.push_back(std::move(column));
  FCode.push_back(instruction);
  Result.Register = instruction.Target;
  Result.Type = Node->DataType;
  Result.Kind = Node->DataType == dtBoolean ? TKind::Bool
                : Node->DataType == dtFloat ? TKind::Float
                : Node->DataType == dtChar  ? TKind::Text
                                            : TKind::Int;
  return true;
}

bool TBRNExprProgram::emitValueOperand(TBRNExprEvaluator& Evaluator, TBRNExprToken* Node,
                                       int32_t Depth, TOperand& Result) {
  if (Node == nullptr) return false;
  return emitCovered(Evaluator, Node, Depth, Result);
}

TBRNExprProgram::TOperand TBRNExprProgram::emitTruthOperand(TBRNExprEvaluator& Evaluator,
                                                            TBRNExprToken* Node, int32_t Depth) {
  size_t code = FCode.size();
  size_t columns = FColumns.size();
  TOperand result;
  if (emitCovered(Evaluator, Node, Depth, result)) {
    if (result.Kind == TKind::Bool) return result;
    // A number or text as a truth: the evaluator reads it.
    rollBack(code, columns);
  }
  return emitTree(Node, true);
}

bool TBRNExprProgram::emitCovered(TBRNExprEvaluator& Evaluator, TBRNExprToken* Node, int32_t Depth,
                                  TOperand& Result) {
  if (Node == nullptr || Depth > MaxDepth) return false;
  const size_t code = FCode.size();
  const size_t columns = FColumns.size();
  auto fail = [&]() {
    rollBack(code, columns);
    return false;
  };
  switch (Node->Kind) {
    case tkConstant:
      return emitConstant(Node, Result);
    case tkColumnReference:
    case tkOuterColumnReference:
      return emitColumn(Node, Result);
    case tkOperator:
    case tkUnaryOperator:
      break;
    case tkPredicate:
      break;
    default:
      return false;
  }
  const TBRNExprOperation operation = Node->Operation;

  // AND, OR, NOT: any operand, read as a truth; the jumps skip the right
  // operand exactly where the evaluator does not evaluate it.
  if (operation == opAnd || operation == opOr) {
    if (Node->Kind != tkOperator && Node->Kind != tkUnaryOperator) return false;
    if (Node->DataType != dtBoolean || Node->Left() == nullptr || Node->Right() == nullptr)
      return false;
    TOperand left = emitTruthOperand(Evaluator, Node->Left(), Depth + 1);
    const int32_t target = newRegister();
    const size_t jump = FCode.size();
    TInstruction first{operation == opAnd ? TOp::AndLeft : TOp::OrLeft};
    first.Target = target;
    first.A = left.Register;
    FCode.push_back(first);
    TOperand right = emitTruthOperand(Evaluator, Node->Right(), Depth + 1);
    TInstruction second{operation == opAnd ? TOp::AndRight : TOp::OrRight};
    second.Target = target;
    second.A = left.Register;
    second.B = right.Register;
    FCode.push_back(second);
    FCode[jump].Aux = int32_t(FCode.size());
    Result = TOperand{target, TKind::Bool, dtBoolean, false};
    return true;
  }
  if (operation == opNot) {
    if (Node->Kind != tkOperator && Node->Kind != tkUnaryOperator) return false;
    if (Node->DataType != dtBoolean || Node->Left() == nullptr) return false;
    TOperand operand = emitTruthOperand(Evaluator, Node->Left(), Depth + 1);
    TInstruction instruction{TOp::Not};
    instruction.Target = newRegister();
    instruction.A = operand.Register;
    FCode.push_back(instruction);
    Result = TOperand{instruction.Target, TKind::Bool, dtBoolean, false};
    return true;
  }

  if (Node->Kind == tkPredicate) {
    if (Node->DataType != dtBoolean || Node->ArgumentCount() < 1) return false;
    TBRNExprToken* tested = Node->Argument(0);
    if (operation == opIsNull || operation == opIsNotNull) {
      // The optional second argument is evaluated by the routine too.
      if (Node->ArgumentCount() > 1 && Node->Argument(1) != nullptr) return false;
      if (tested == nullptr) return false;
      // Only the NULL flag is read, so any operand will do.
      TOperand operand;
      if (!emitCovered(Evaluator, tested, Depth + 1, operand)) operand = emitTree(tested, false);
      TInstruction instruction{operation == opIsNull ? TOp::IsNull : TOp::IsNotNull};
      instruction.Target = newRegister();
      instruction.A = operand.Register;
      FCode.push_back(instruction);
      Result = TOperand{instruction.Target, TKind::Bool, dtBoolean, false};
      return true;
    }
    if (operation == opLike || operation == opNotLike) {
      if (Node->ArgumentCount() < 2 || Node->ArgumentCount() > 3) return false;
      if (Node->ArgumentCount() == 3 && Node->Argument(2) != nullptr) return false;
      TBRNExprToken* pattern = Node->Argument(1);
      if (pattern == nullptr || pattern->Kind != tkConstant) return false;
      TOperand text;
      TOperand patternOperand;
      if (!emitValueOperand(Evaluator, tested, Depth + 1, text) || text.Kind != TKind::Text)
        return fail();
      if (!emitConstant(pattern, patternOperand) || patternOperand.Kind != TKind::Text)
        return fail();
      TInstruction instruction{operation == opLike ? TOp::Like : TOp::NotLike};
      instruction.Target = newRegister();
      instruction.A = text.Register;
      instruction.B = patternOperand.Register;
      // The tested text's collation: a column's own, or a constant's.
      const TRegister& patternRegister = FRegisters[size_t(patternOperand.Register)];
      instruction.Aux = LiteralPrefixLength(patternRegister.S, patternRegister.L,
                                            tested->Kind == tkConstant
                                                ? FRegisters[size_t(text.Register)].Collation
                                                : FColumns.back().Collation);
      pushFused(instruction);
      Result = TOperand{instruction.Target, TKind::Bool, dtBoolean, false};
      return true;
    }
    return false;
  }

  // Binary operators over two typed operands.
  if (Node->Kind != tkOperator || Node->Left() == nullptr || Node->Right() == nullptr) return false;
  const bool comparison = IsComparison(operation);
  const bool arithmetic = operation == opAdd || operation == opSubtract || operation == opMultiply;
  if (!comparison && !arithmetic) return false;
  if (comparison && Node->DataType != dtBoolean) return false;
  if (arithmetic && Node->DataType != dtInteger && Node->DataType != dtBigInt &&
      Node->DataType != dtFloat)
    return false;
  TOperand left;
  TOperand right;
  if (!emitValueOperand(Evaluator, Node->Left(), Depth + 1, left)) return fail();
  if (!emitValueOperand(Evaluator, Node->Right(), Depth + 1, right)) return fail();
  TInstruction instruction{TOp::CompareInteger};
  instruction.A = left.Register;
  instruction.B = right.Register;
  instruction.Node = Node;
  if (comparison) {
    // Same types only: across types the evaluator converts.
    if (left.Type != right.Type) return fail();
    instruction.Op = left.Type == dtFloat  ? TOp::CompareFloat
                     : left.Type == dtChar ? TOp::CompareText
                                           : TOp::CompareInteger;
    // The outcomes that pass, as bits 0 (less), 1 (equal) and 2 (greater).
    instruction.Aux = operation == opEqual            ? 0b010
                      : operation == opNotEqual       ? 0b101
                      : operation == opGreater        ? 0b100
                      : operation == opGreaterOrEqual ? 0b110
                      : operation == opLess           ? 0b001
                                                      : 0b011;
    instruction.PartialLength = Node->PartialLength;
    instruction.Target = newRegister();
    pushFused(instruction);
    Result = TOperand{instruction.Target, TKind::Bool, dtBoolean, false};
    return true;
  }
  const bool integers = IsIntegerType(left.Type) && IsIntegerType(right.Type);
  const bool wide = left.Type == dtBigInt || right.Type == dtBigInt;
  if (Node->DataType == dtFloat) {
    // A number with a Float: float arithmetic whichever side is the Float.
    if (integers || (left.Kind != TKind::Float && left.Kind != TKind::Int) ||
        (right.Kind != TKind::Float && right.Kind != TKind::Int))
      return fail();
    instruction.Type = left.Type;
    instruction.RightType = right.Type;
    instruction.Op = operation == opAdd        ? TOp::AddFloat
                     : operation == opSubtract ? TOp::SubtractFloat
                                               : TOp::MultiplyFloat;
    instruction.Target = newRegister();
    pushFused(instruction);
    Result = TOperand{instruction.Target, TKind::Float, dtFloat, false};
    return true;
  }
  // Integers into Integer work in 32 bits (a BigInt operand could leave
  // the node's range: the evaluator's error); into BigInt in 32 bits for
  // two narrow operands, else in 64, wrapping as the evaluator does.
  if (!integers || (Node->DataType == dtInteger && wide)) return fail();
  if (wide)
    instruction.Op = operation == opAdd        ? TOp::AddInt64
                     : operation == opSubtract ? TOp::SubtractInt64
                                               : TOp::MultiplyInt64;
  else
    instruction.Op = operation == opAdd        ? TOp::AddInt32
                     : operation == opSubtract ? TOp::SubtractInt32
                                               : TOp::MultiplyInt32;
  instruction.Target = newRegister();
  pushFused(instruction);
  Result = TOperand{instruction.Target, TKind::Int, Node->DataType, false};
  return true;
}

void TBRNExprProgram::pushFused(TInstruction Instruction) {
  // Operand B's read, when it is the last instruction, then operand A's,
  // when it comes right before: both in their order, without a dispatch.
  if (!FCode.empty() && FCode.back().Op == TOp::Column && FCode.back().Target == Instruction.B) {
    Instruction.FetchB = FCode.back().Aux;
    FCode.pop_back();
  }
  if (!FCode.empty() && FCode.back().Op == TOp::Column && FCode.back().Target == Instruction.A &&
      (Instruction.FetchB >= 0 || Instruction.A != Instruction.B)) {
    Instruction.FetchA = FCode.back().Aux;
    FCode.pop_back();
  }
  FCode.push_back(Instruction);
}

bool TBRNExprProgram::bindSource(TSource& Source, const TBRNValues* Row,
                                 const TBRNRowImage& Image) {
  Source.Row = Row;
  Source.Layout = Image.Layout;
  Source.Image = Image.Layout != 0;
  Source.End = 0;
  Source.Reads.clear();
  for (int32_t index : Source.Columns) {
    TColumn& column = FColumns[size_t(index)];
    if (column.Index >= Row->GetCount()) {
      Source.Row = nullptr;
      return false;
    }
    if (!Source.Image) continue;
    TBRNImageCell cell;
    if (!Row->GetImageCell(column.Index, cell) || cell.Value == nullptr ||
        cell.Value->GetDataType() != column.Type || !CellHolds(cell.Kind, column.Type)) {
      Source.Image = false;
      continue;
    }
    column.Cell = cell;
    Source.End = std::max(Source.End, int64_t(cell.Offset) + cell.Width);
    Source.Reads.push_back(TCellRead{cell.Value, column.Index, cell.Offset, column.Register,
                                     cell.Capacity, column.Collation, cell.Kind});
  }
  return true;
}

[[gnu::always_inline]] inline bool TBRNExprProgram::loadCell(TRegister& reg,
                                                             TBRNImageCellKind kind,
                                                             const uint8_t* bytes,
                                                             int32_t capacity, int32_t collation) {
  switch (kind) {
    case TBRNImageCellKind::Boolean:
      reg.I = bytes[1] != 0 ? 1 : 0;
      return true;
    case TBRNImageCellKind::SmallInt:
      reg.I = LoadLittleEndian<int16_t>(bytes + 1);
      return true;
    case TBRNImageCellKind::Int32:
      reg.I = LoadLittleEndian<int32_t>(bytes + 1);
      return true;
    case TBRNImageCellKind::Int64:
      reg.I = LoadLittleEndian<int64_t>(bytes + 1);
      return true;
    case TBRNImageCellKind::Float:
      reg.F = LoadLittleEndian<double>(bytes + 1);
      return true;
    case TBRNImageCellKind::FixedChars:
      reg.S = reinterpret_cast<const char*>(bytes + 1);
      reg.L = capacity;
      reg.Collation = collation;
      return true;
    case TBRNImageCellKind::VariableChars:
      reg.S = reinterpret_cast<const char*>(bytes + 3);
      reg.L = std::min<int32_t>(LoadLittleEndian<uint16_t>(bytes + 1), capacity);
      reg.Collation = collation;
      return true;
    default:
      return false;
  }
}

[[gnu::always_inline]] inline bool TBRNExprProgram::loadImages(TBRNExprEvaluator& Evaluator) {
  const TBRNCurrentRows* rows = Evaluator.CurrentRows;
  if (rows == nullptr) return false;
  TRegister* regs = FRegisters.data();
  for (const TSource& source : FSources) {
    if (!source.Image || source.Row == nullptr || size_t(source.Number) >= rows->size() ||
        (*rows)[size_t(source.Number)] != source.Row)
      return false;
    const TBRNValues& row = *source.Row;
    const TBRNRowImage image = row.GetRowImage();
    if (image.Layout != source.Layout || image.Bytes == nullptr || image.Size < source.End)
      return false;
    for (const TCellRead& read : source.Reads) {
      const uint8_t* bytes = image.Bytes + read.Offset;
      if (bytes[0] == 0 || row.GetItem(read.Index) != read.Value) return false;
      if (!loadCell(regs[read.Register], read.Kind, bytes, read.Capacity, read.Collation))
        return false;
    }
  }
  return true;
}

bool TBRNExprProgram::bind(TBRNExprEvaluator& Evaluator, bool* Present) {
  const TBRNCurrentRows* rows = Evaluator.CurrentRows;
  FRowsTouched = false;
  for (TSource& source : FSources) {
    const TBRNValues* row = rows != nullptr && size_t(source.Number) < rows->size()
                                ? (*rows)[size_t(source.Number)]
                                : nullptr;
    // Without a current row the evaluator reads the node's own value.
    if (row == nullptr) return false;
    const TBRNRowImage image = row->GetRowImage();
    if (row != source.Row || image.Layout != source.Layout) {
      if (!bindSource(source, row, image)) return false;
    }
    source.Direct = source.Image && image.Bytes != nullptr && image.Size >= source.End;
    source.Bytes = image.Bytes;
    for (int32_t index : source.Columns) {
      TColumn& column = FColumns[size_t(index)];
      const TBRNValue* value = row->GetItem(column.Index);
      if (value == nullptr) return false;
      column.Bytes = nullptr;
      if (source.Direct) {
        column.Bytes = source.Bytes + column.Cell.Offset;
        if (value != column.Cell.Value) {
          // The row lists other values than the cells describe: bind anew.
          source.Row = nullptr;
          return false;
        }
      } else {
        // The tree reads the value as it is typed; the program only the
        // types the tree was validated for.
        if (value->GetDataType() != column.Type) return false;
        column.Value = value;
      }
      if (Present != nullptr && *Present) {
        fetchColumn(Evaluator, column);
        *Present = !FRegisters[size_t(column.Register)].Null;
      }
    }
  }
  return true;
}

void TBRNExprProgram::readColumn(TBRNExprEvaluator& Evaluator, TColumn& Column) {
  TRegister& reg = FRegisters[size_t(Column.Register)];
  if (FRowsTouched && !bind(Evaluator)) {
    // A hand-over moved the rows so that the program cannot read them: the
    // column is read as the evaluator reads it.
    Evaluator.EvaluateToken(Column.Node);
    const TBRNValue* value = Column.Node->Value;
    if (value->GetDataType() != Column.Type)
      throw std::logic_error("a current row changed its column types during an evaluation");
    Column.Value = value;
    Column.Bytes = nullptr;
    FRowsTouched = true;
  }
  if (Column.Bytes != nullptr) {
    const TBRNImageCell& cell = Column.Cell;
    const uint8_t* bytes = Column.Bytes;
    reg.Null = bytes[0] == 0;
    loadCell(reg, cell.Kind, bytes, cell.Capacity, Column.Collation);
    return;
  }
  const TBRNValue& value = *Column.Value;
  reg.Null = value.GetNull();
  switch (Column.Type) {
    case dtBoolean:
      reg.I = value.GetBooleanData() ? 1 : 0;
      break;
    case dtSmallInt:
      reg.I = value.GetSmallIntData();
      break;
    case dtInteger:
      reg.I = value.GetInt32Data();
      break;
    case dtBigInt:
      reg.I = value.GetInt64Data();
      break;
    case dtFloat:
      reg.F = value.GetFloatData();
      break;
    default: {
      // The characters as the evaluator's routines take them.
      int32_t length = 0;
      const char* chars = value.GetStringBuffer(length);
      if (chars == nullptr) {
        Column.Copy = reg.Null ? std::string() : value.GetAsString();
        chars = Column.Copy.data();
        length = int32_t(Column.Copy.size());
      }
      reg.S = chars;
      reg.L = length;
      reg.Collation = Column.Collation;
      break;
    }
  }
}

inline void TBRNExprProgram::fetchColumn(TBRNExprEvaluator& Evaluator, TColumn& Column) {
  const uint8_t* bytes = Column.Bytes;
  if (bytes == nullptr || FRowsTouched) return readColumn(Evaluator, Column);
  // The usual cells in place; the others through readColumn.
  TRegister& reg = FRegisters[size_t(Column.Register)];
  switch (Column.Cell.Kind) {
    case TBRNImageCellKind::Int32:
      reg.Null = bytes[0] == 0;
      reg.I = LoadLittleEndian<int32_t>(bytes + 1);
      return;
    case TBRNImageCellKind::Int64:
      reg.Null = bytes[0] == 0;
      reg.I = LoadLittleEndian<int64_t>(bytes + 1);
      return;
    case TBRNImageCellKind::Float:
      reg.Null = bytes[0] == 0;
      reg.F = LoadLittleEndian<double>(bytes + 1);
      return;
    case TBRNImageCellKind::VariableChars:
      reg.Null = bytes[0] == 0;
      reg.S = reinterpret_cast<const char*>(bytes + 3);
      reg.L = std::min<int32_t>(LoadLittleEndian<uint16_t>(bytes + 1), Column.Cell.Capacity);
      reg.Collation = Column.Collation;
      return;
    default:
      return readColumn(Evaluator, Column);
  }
}

void TBRNExprProgram::compareNulls(const TInstruction& In, const TRegister& A, const TRegister& B,
                                   TRegister& Out) const {
  if (FStandardNullBehavior) {
    Out.Null = true;
    return;
  }
  // NULL equals NULL and sorts before every other value.
  Out.Null = false;
  Out.I = (In.Aux >> ((A.Null == B.Null ? 0 : (A.Null ? -1 : 1)) + 1)) & 1;
}

bool TBRNExprProgram::run(TBRNExprEvaluator& Evaluator) {
  if (Evaluator.StandardNullBehavior != FStandardNullBehavior)
    throw std::logic_error("a program runs with the NULL behaviour it was compiled for");
  // With a jump form the columns are read while binding, so that a row
  // without NULLs takes it.
  bool present = !FJumps.empty();
  if (present && loadImages(Evaluator)) {
    runJumps();
    return true;
  }
  if (!bind(Evaluator, &present)) {
    Evaluator.EvaluateToken(FRoot);
    return false;
  }
  if (present) {
    runJumps();
    return true;
  }
  const bool standard = FStandardNullBehavior;
  TRegister* regs = FRegisters.data();
  TColumn* columns = FColumns.data();
  const TInstruction* code = FCode.data();
  const size_t count = FCode.size();
  for (size_t pc = 0; pc < count; ++pc) {
    const TInstruction& in = code[pc];
    TRegister& out = regs[in.Target];
    if (in.FetchA >= 0) fetchColumn(Evaluator, columns[in.FetchA]);
    if (in.FetchB >= 0) fetchColumn(Evaluator, columns[in.FetchB]);
    const TRegister& a = regs[in.A];
    const TRegister& b = regs[in.B];
    switch (in.Op) {
      case TOp::Column:
        fetchColumn(Evaluator, columns[in.Aux]);
        break;
      case TOp::Tree: {
        Evaluator.EvaluateToken(in.Node);
        FRowsTouched = true;
        const TBRNValue& value = *in.Node->Value;
        out.Null = value.GetNull();
        // The truth only where it is read (AND, OR, NOT read it of every
        // non-NULL operand, and reading it may raise).
        out.I = in.Aux != 0 && !out.Null && evaluation::TruthOfValue(value) ? 1 : 0;
        break;
      }
      // Arithmetic: under standard NULLs a NULL operand gives NULL; without
      // them the operands' data is used as it is, as the evaluator's
      // converting getters read it. Integers wrap around.
      // One case per operation, so that no instruction tests its own
      // operation again.
      case TOp::AddInt32:
        out.Null = standard && (a.Null || b.Null);
        out.I = Wrapped<int32_t>(a.I, b.I, std::plus<>());
        break;
      case TOp::SubtractInt32:
        out.Null = standard && (a.Null || b.Null);
        out.I = Wrapped<int32_t>(a.I, b.I, std::minus<>());
        break;
      case TOp::MultiplyInt32:
        out.Null = standard && (a.Null || b.Null);
        out.I = Wrapped<int32_t>(a.I, b.I, std::multiplies<>());
        break;
      case TOp::AddInt64:
        out.Null = standard && (a.Null || b.Null);
        out.I = Wrapped<int64_t>(a.I, b.I, std::plus<>());
        break;
      case TOp::SubtractInt64:
        out.Null = standard && (a.Null || b.Null);
        out.I = Wrapped<int64_t>(a.I, b.I, std::minus<>());
        break;
      case TOp::MultiplyInt64:
        out.Null = standard && (a.Null || b.Null);
        out.I = Wrapped<int64_t>(a.I, b.I, std::multiplies<>());
        break;
      // An integer operand counts as its exact double, as its converting
      // getter reads it.
      case TOp::AddFloat:
        out.Null = standard && (a.Null || b.Null);
        out.F = (in.Type == dtFloat ? a.F : double(a.I)) +
                (in.RightType == dtFloat ? b.F : double(b.I));
        break;
      case TOp::SubtractFloat:
        out.Null = standard && (a.Null || b.Null);
        out.F = (in.Type == dtFloat ? a.F : double(a.I)) -
                (in.RightType == dtFloat ? b.F : double(b.I));
        break;
      case TOp::MultiplyFloat:
        out.Null = standard && (a.Null || b.Null);
        out.F = (in.Type == dtFloat ? a.F : double(a.I)) *
                (in.RightType == dtFloat ? b.F : double(b.I));
        break;
      // Comparisons: the outcome (-1, 0, 1) picks its bit of the test's
      // mask, without a branch per test.
      case TOp::CompareInteger:
        if (a.Null || b.Null) {
          compareNulls(in, a, b, out);
          break;
        }
        out.Null = false;
        out.I = (in.Aux >> (Ordered(a.I, b.I) + 1)) & 1;
        break;
      case TOp::CompareFloat:
        if (a.Null || b.Null) {
          compareNulls(in, a, b, out);
          break;
        }
        out.Null = false;
        out.I = (in.Aux >> (OrderedFloat(a.F, b.F) + 1)) & 1;
        break;
      case TOp::CompareText:
        if (a.Null || b.Null) {
          compareNulls(in, a, b, out);
          break;
        }
        out.Null = false;
        out.I =
            (in.Aux >>
             (CompareCollatedChars(a.Collation, a.S, a.L, b.S, b.L, false, in.PartialLength) + 1)) &
            1;
        break;
      case TOp::AndLeft:
        if (!a.Null && a.I == 0) {
          out.Null = false;
          out.I = 0;
          pc = size_t(in.Aux) - 1;
        }
        break;
      case TOp::AndRight:
        // The left operand is NULL or TRUE here.
        if (a.Null) {
          if (!standard) {
            out.Null = false;
            out.I = !b.Null && b.I != 0;
          } else if (b.Null || b.I != 0) {
            out.Null = true;
          } else {
            out.Null = false;
            out.I = 0;
          }
        } else if (standard && b.Null) {
          out.Null = true;
        } else {
          out.Null = false;
          out.I = !b.Null && b.I != 0;
        }
        break;
      case TOp::OrLeft:
        if (!a.Null && a.I != 0) {
          out.Null = false;
          out.I = 1;
          pc = size_t(in.Aux) - 1;
        }
        break;
      case TOp::OrRight:
        // The left operand is NULL or FALSE here.
        if (standard && a.Null) {
          out.Null = b.Null || b.I == 0;
          out.I = out.Null ? 0 : 1;
        } else if (standard && b.Null) {
          out.Null = true;
        } else {
          out.Null = false;
          out.I = !b.Null && b.I != 0;
        }
        break;
      case TOp::Not:
        if (standard && a.Null) {
          out.Null = true;
        } else {
          out.Null = false;
          out.I = a.Null || a.I == 0 ? 1 : 0;
        }
        break;
      case TOp::IsNull:
        out.Null = false;
        out.I = a.Null ? 1 : 0;
        break;
      case TOp::IsNotNull:
        out.Null = false;
        out.I = a.Null ? 0 : 1;
        break;
      case TOp::Like:
      case TOp::NotLike: {
        if (standard && a.Null) {
          out.Null = true;
          break;
        }
        const bool match = in.Aux >= 0
                               ? MatchesPrefix(a.S, a.L, b.S, in.Aux)
                               : MatchLikePattern(a.Collation, std::string_view(a.S, size_t(a.L)),
                                                  std::string_view(b.S, size_t(b.L)), '%', '_', 0);
        out.Null = false;
        out.I = (in.Op == TOp::Like) == match ? 1 : 0;
        break;
      }
    }
  }
  return true;
}

int32_t TBRNExprProgram::newLabel() {
  FLabels.push_back(-1);
  return int32_t(FLabels.size()) - 1;
}

void TBRNExprProgram::placeLabel(int32_t Label) {
  FLabels[size_t(Label)] = int32_t(FJumps.size());
}

void TBRNExprProgram::compileJumps() {
  // A hand-over may read NULLs the columns do not show, move the rows or
  // raise: only programs of their own have the jump form.
  if (FTreeNodeCount > 0) return;
  // The instruction that computes each register: none for columns and
  // constants (loaded before the run), the second half for AND and OR.
  std::vector<int32_t> defining(FRegisters.size(), -1);
  for (size_t i = 0; i < FCode.size(); ++i) {
    const TOp op = FCode[i].Op;
    if (op != TOp::Column && op != TOp::AndLeft && op != TOp::OrLeft)
      defining[size_t(FCode[i].Target)] = int32_t(i);
  }
  if (FResult.Kind == TKind::Bool) {
    const int32_t accept = newLabel();
    const int32_t reject = newLabel();
    jumpTruth(defining, FResult.Register, accept, reject);
    placeLabel(accept);
    FJumps.push_back(TJump{TJumpOp::Accept});
    placeLabel(reject);
    FJumps.push_back(TJump{TJumpOp::Reject});
  } else {
    jumpValue(defining, FResult.Register);
    FJumps.push_back(TJump{TJumpOp::Done});
  }
  // Labels into instructions; a jump to a jump goes straight on.
  auto jumps = [](TJumpOp Op) { return Op >= TJumpOp::CompareInteger && Op <= TJumpOp::SetTrue; };
  for (TJump& jump : FJumps) {
    if (!jumps(jump.Op)) continue;
    jump.OnTrue = FLabels[size_t(jump.OnTrue)];
    jump.OnFalse = FLabels[size_t(jump.OnFalse)];
  }
  auto through = [this](int32_t Target) {
    while (FJumps[size_t(Target)].Op == TJumpOp::Jump) Target = FJumps[size_t(Target)].OnTrue;
    return Target;
  };
  auto answer = [this](int32_t Target) {
    const TJumpOp op = FJumps[size_t(Target)].Op;
    return op == TJumpOp::Accept ? AcceptTarget : op == TJumpOp::Reject ? RejectTarget : Target;
  };
  for (TJump& jump : FJumps) {
    if (!jumps(jump.Op)) continue;
    jump.OnTrue = answer(through(jump.OnTrue));
    jump.OnFalse = answer(through(jump.OnFalse));
  }
  FLabels.clear();
  FLabels.shrink_to_fit();
  // The registers are all made: the instructions point at theirs.
  for (TJump& jump : FJumps) {
    jump.Out = &FRegisters[size_t(jump.Target)];
    jump.RA = &FRegisters[size_t(jump.A)];
    jump.RB = &FRegisters[size_t(jump.B)];
  }
}

void TBRNExprProgram::jumpTruth(const std::vector<int32_t>& Defining, int32_t Register,
                                int32_t OnTrue, int32_t OnFalse) {
  TJump jump{TJumpOp::Truth};
  jump.OnTrue = OnTrue;
  jump.OnFalse = OnFalse;
  const int32_t at = Defining[size_t(Register)];
  if (at < 0) {
    // A Boolean column or constant.
    jump.A = Register;
    FJumps.push_back(jump);
    return;
  }
  const TInstruction& in = FCode[size_t(at)];
  switch (in.Op) {
    case TOp::AndRight: {
      const int32_t right = newLabel();
      jumpTruth(Defining, in.A, right, OnFalse);
      placeLabel(right);
      jumpTruth(Defining, in.B, OnTrue, OnFalse);
      return;
    }
    case TOp::OrRight: {
      const int32_t right = newLabel();
      jumpTruth(Defining, in.A, OnTrue, right);
      placeLabel(right);
      jumpTruth(Defining, in.B, OnTrue, OnFalse);
      return;
    }
    case TOp::Not:
      jumpTruth(Defining, in.A, OnFalse, OnTrue);
      return;
    case TOp::IsNull:
    case TOp::IsNotNull:
      // No covered node is NULL here, and computing one has no effect.
      jump.Op = TJumpOp::Jump;
      jump.OnTrue = jump.OnFalse = in.Op == TOp::IsNull ? OnFalse : OnTrue;
      FJumps.push_back(jump);
      return;
    case TOp::CompareInteger:
    case TOp::CompareFloat:
    case TOp::CompareText:
      jumpValue(Defining, in.A);
      jumpValue(Defining, in.B);
      jump.Op = in.Op == TOp::CompareInteger ? TJumpOp::CompareInteger
                : in.Op == TOp::CompareFloat ? TJumpOp::CompareFloat
                                             : TJumpOp::CompareText;
      jump.Mask = uint8_t(in.Aux);
      jump.A = in.A;
      jump.B = in.B;
      jump.PartialLength = in.PartialLength;
      FJumps.push_back(jump);
      return;
    case TOp::Like:
    case TOp::NotLike:
      jumpValue(Defining, in.A);
      jump.Op = in.Aux >= 0 ? TJumpOp::LikePrefix : TJumpOp::Like;
      jump.A = in.A;
      jump.B = in.B;
      jump.PartialLength = in.Aux;
      if (in.Op == TOp::NotLike) std::swap(jump.OnTrue, jump.OnFalse);
      FJumps.push_back(jump);
      return;
    default:
      throw std::logic_error("a program's jump form met a value that is no truth");
  }
}

void TBRNExprProgram::jumpValue(const std::vector<int32_t>& Defining, int32_t Register) {
  const int32_t at = Defining[size_t(Register)];
  if (at < 0) return;
  const TInstruction& in = FCode[size_t(at)];
  TJump jump{TJumpOp::AddInt32};
  jump.Target = Register;
  jump.A = in.A;
  jump.B = in.B;
  switch (in.Op) {
    case TOp::AddInt32:
    case TOp::SubtractInt32:
    case TOp::MultiplyInt32:
    case TOp::AddInt64:
    case TOp::SubtractInt64:
    case TOp::MultiplyInt64:
    case TOp::AddFloat:
    case TOp::SubtractFloat:
    case TOp::MultiplyFloat:
      jumpValue(Defining, in.A);
      jumpValue(Defining, in.B);
      jump.Op = in.Op == TOp::AddInt32        ? TJumpOp::AddInt32
                : in.Op == TOp::SubtractInt32 ? TJumpOp::SubtractInt32
                : in.Op == TOp::MultiplyInt32 ? TJumpOp::MultiplyInt32
                : in.Op == TOp::AddInt64      ? TJumpOp::AddInt64
                : in.Op == TOp::SubtractInt64 ? TJumpOp::SubtractInt64
                : in.Op == TOp::MultiplyInt64 ? TJumpOp::MultiplyInt64
                : in.Op == TOp::AddFloat      ? TJumpOp::AddFloat
                : in.Op == TOp::SubtractFloat ? TJumpOp::SubtractFloat
                                              : TJumpOp::MultiplyFloat;
      jump.IntegerA = in.Type != dtFloat;
      jump.IntegerB = in.RightType != dtFloat;
      FJumps.push_back(jump);
      return;
    default:
      break;
  }
  // A truth read as a value (a compared Boolean): 0 or 1.
  const int32_t isTrue = newLabel();
  const int32_t isFalse = newLabel();
  const int32_t end = newLabel();
  jumpTruth(Defining, Register, isTrue, isFalse);
  placeLabel(isTrue);
  jump.Op = TJumpOp::SetTrue;
  jump.OnTrue = jump.OnFalse = end;
  FJumps.push_back(jump);
  placeLabel(isFalse);
  jump.Op = TJumpOp::SetFalse;
  FJumps.push_back(jump);
  placeLabel(end);
}

[[gnu::always_inline]] inline void TBRNExprProgram::runJumps() {
  TRegister* regs = FRegisters.data();
  const TJump* code = FJumps.data();
  const TJump* in = code;
  for (;;) {
    TRegister& out = *in->Out;
    const TRegister& a = *in->RA;
    const TRegister& b = *in->RB;
    bool pass = true;
    switch (in->Op) {
      // Integers wrap around as in the general form.
      case TJumpOp::AddInt32:
        out.I = Wrapped<int32_t>(a.I, b.I, std::plus<>());
        ++in;
        continue;
      case TJumpOp::SubtractInt32:
        out.I = Wrapped<int32_t>(a.I, b.I, std::minus<>());
        ++in;
        continue;
      case TJumpOp::MultiplyInt32:
        out.I = Wrapped<int32_t>(a.I, b.I, std::multiplies<>());
        ++in;
        continue;
      case TJumpOp::AddInt64:
        out.I = Wrapped<int64_t>(a.I, b.I, std::plus<>());
        ++in;
        continue;
      case TJumpOp::SubtractInt64:
        out.I = Wrapped<int64_t>(a.I, b.I, std::minus<>());
        ++in;
        continue;
      case TJumpOp::MultiplyInt64:
        out.I = Wrapped<int64_t>(a.I, b.I, std::multiplies<>());
        ++in;
        continue;
      case TJumpOp::AddFloat:
        out.F = (in->IntegerA ? double(a.I) : a.F) + (in->IntegerB ? double(b.I) : b.F);
        ++in;
        continue;
      case TJumpOp::SubtractFloat:
        out.F = (in->IntegerA ? double(a.I) : a.F) - (in->IntegerB ? double(b.I) : b.F);
        ++in;
        continue;
      case TJumpOp::MultiplyFloat:
        out.F = (in->IntegerA ? double(a.I) : a.F) * (in->IntegerB ? double(b.I) : b.F);
        ++in;
        continue;
      case TJumpOp::CompareInteger:
        pass = (in->Mask >> (Ordered(a.I, b.I) + 1)) & 1;
        break;
      case TJumpOp::CompareFloat:
        pass = (in->Mask >> (OrderedFloat(a.F, b.F) + 1)) & 1;
        break;
      case TJumpOp::CompareText:
        pass = (in->Mask >>
                (CompareCollatedChars(a.Collation, a.S, a.L, b.S, b.L, false, in->PartialLength) +
                 1)) &
               1;
        break;
      case TJumpOp::Truth:
        pass = a.I != 0;
        break;
      case TJumpOp::Like:
        pass = MatchLikePattern(a.Collation, std::string_view(a.S, size_t(a.L)),
                                std::string_view(b.S, size_t(b.L)), '%', '_', 0);
        break;
      case TJumpOp::LikePrefix:
        pass = MatchesPrefix(a.S, a.L, b.S, in->PartialLength);
        break;
      case TJumpOp::Jump:
        break;
      case TJumpOp::SetFalse:
      case TJumpOp::SetTrue:
        out.I = in->Op == TJumpOp::SetTrue ? 1 : 0;
        break;
      case TJumpOp::Accept:
      case TJumpOp::Reject: {
        TRegister& result = regs[FResult.Register];
        result.Null = false;
        result.I = in->Op == TJumpOp::Accept ? 1 : 0;
        return;
      }
      case TJumpOp::Done:
        regs[FResult.Register].Null = false;
        return;
    }
    // A jump to the answer ends the run here, without a dispatch of its own.
    const int32_t next = pass ? in->OnTrue : in->OnFalse;
    if (next < 0) {
      TRegister& result = regs[FResult.Register];
      result.Null = false;
      result.I = next == AcceptTarget ? 1 : 0;
      return;
    }
    in = code + next;
  }
}

void TBRNExprProgram::Evaluate(TBRNExprEvaluator& Evaluator) {
  if (run(Evaluator)) writeResult(Evaluator);
}

void TBRNExprProgram::writeResult(TBRNExprEvaluator& Evaluator) {
  if (FRoot->Value == nullptr) Evaluator.CreateTokenValue(FRoot);
  TBRNValue& result = *FRoot->Value;
  const TRegister& reg = FRegisters[size_t(FResult.Register)];
  if (reg.Null) return result.SetNull(true);
  switch (FResult.Kind) {
    case TKind::Bool:
      return evaluation::SetBooleanResult(result, reg.I != 0);
    case TKind::Int:
      if (FResult.Type == dtInteger) return result.SetAsInteger(int32_t(reg.I));
      return result.SetAsBigInt(reg.I);
    case TKind::Float:
      return result.SetAsFloat(reg.F);
    case TKind::Text:
      return result.SetAsString(std::string_view(reg.S, size_t(reg.L)));
  }
}

bool TBRNExprProgram::Test(TBRNExprEvaluator& Evaluator) {
  if (!run(Evaluator)) return evaluation::Truth(*FRoot->Value);
  const TRegister& reg = FRegisters[size_t(FResult.Register)];
  if (FResult.Kind == TKind::Bool) return !reg.Null && reg.I != 0;
  writeResult(Evaluator);
  return evaluation::Truth(*FRoot->Value);
}

}  // namespace brn
