#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "foundation/types/data_types.h"
#include "foundation/values/row_image.h"

namespace brn {

class TBRNExprEvaluator;
class TBRNExprToken;
class TBRNValue;
class TBRNValues;

// A prepared tree compiled once into a flat program, for the trees that run
// once per row: conditions and select expressions. The program gives
// exactly the tree's result (value, NULL and error) at a fraction of the
// cost of walking typed values.
//
// Form: the covered nodes in post-order as typed instructions over a
// register file (one register per node), constants converted at compile
// time, AND and OR as conditional jumps. Columns are read typed: from the
// row image when the current row has one (one call per row source and row,
// none per column), else through the row's values. Covered:
//   - non-NULL constants and bound column references of the types SmallInt,
//     Integer, BigInt, Float, Boolean and Char;
//   - +, - and * on integers into an Integer or BigInt node and on numbers
//     into a Float node (the combinations that cannot leave the node's
//     type);
//   - the six comparisons of two operands of the same type;
//   - AND, OR, NOT, IS [NOT] NULL, and [NOT] LIKE against a constant
//     pattern without ESCAPE, all into Boolean nodes.
// Every other node runs through the evaluator's own routines, subtree and
// all (functions, subqueries, aggregates, CASE, CAST, division, ...): it is
// evaluated exactly when the tree would evaluate it, so its side effects
// and errors are the tree's.
//
// Rows: before the first instruction the program checks each row source it
// reads: a current row, holding the column, whose values have the types
// the tree was validated for. When that fails the whole tree runs through
// the evaluator instead, so that it raises (or reads its own values) as it
// always does.
//
// Contract: compiled after the evaluator prepared the tree (row sources
// numbered) and used with an evaluator of the same NULL behaviour; a tree
// that is unprepared, re-prepared or changed needs a new program. The
// program keeps pointers into the tree and must not outlive it. Only the
// root's value is written (Evaluate): the values of inner nodes the program
// computes itself are left as they were. Used by one thread at a time, as
// the tree is.
class TBRNExprProgram {
 public:
  // The program of Root; nullptr when it would do nothing the evaluator
  // does not (Root is a leaf or a node the program does not cover).
  static std::unique_ptr<TBRNExprProgram> Compile(TBRNExprEvaluator& Evaluator,
                                                  TBRNExprToken* Root);
  ~TBRNExprProgram();
  TBRNExprProgram(const TBRNExprProgram&) = delete;
  TBRNExprProgram& operator=(const TBRNExprProgram&) = delete;

  // Evaluator.Evaluate(Root), in effect: Root->Value holds the result.
  void Evaluate(TBRNExprEvaluator& Evaluator);
  // Whether the root evaluates to TRUE (not FALSE, not NULL); Root->Value is
  // not written.
  bool Test(TBRNExprEvaluator& Evaluator);

  TBRNExprToken* GetRoot() const { return FRoot; }
  // The nodes the program hands to the evaluator (each with its subtree).
  int32_t GetTreeNodeCount() const { return FTreeNodeCount; }
  // The instructions, tree hand-overs included.
  int32_t GetInstructionCount() const { return int32_t(FCode.size()); }

 private:
  enum class TKind : uint8_t { Bool, Int, Float, Text };
  enum class TOp : uint8_t {
    Column,
    Tree,
    AddInt32,
    SubtractInt32,
    MultiplyInt32,
    AddInt64,
    SubtractInt64,
    MultiplyInt64,
    AddFloat,
    SubtractFloat,
    MultiplyFloat,
    CompareInteger,
    CompareFloat,
    CompareText,
    AndLeft,
    AndRight,
    OrLeft,
    OrRight,
    Not,
    IsNull,
    IsNotNull,
    Like,
    NotLike,
  };

  // One register per node: the truth (Bool, in I), the integer, the float
  // or the characters (S, L, the collation) with the NULL flag.
  struct TRegister {
    int64_t I = 0;
    double F = 0;
    const char* S = nullptr;
    int32_t L = 0;
    int32_t Collation = 0;
    bool Null = false;
  };
  struct TInstruction {
    TOp Op;
    // The operand types of float arithmetic.
    TBRNDataTypeCode Type = dtNull;
    TBRNDataTypeCode RightType = dtNull;
    int32_t Target = 0;  // result register
    int32_t A = 0;       // operand registers
    int32_t B = 0;
    // Jump target (AndLeft, OrLeft), column slot (Column), the passing
    // outcomes (comparisons), whether the truth is read (Tree).
    int32_t Aux = 0;
    int32_t PartialLength = 0;  // text comparisons
    // Column slots read into A and B right before the instruction runs.
    int32_t FetchA = -1;
    int32_t FetchB = -1;
    TBRNExprToken* Node = nullptr;
  };
  // A column the program reads, and how the current row holds it.
  struct TColumn {
    int32_t Source = 0;  // index into FSources
    int32_t Index = 0;
    int32_t Register = 0;
    TBRNDataTypeCode Type = dtNull;
    TBRNExprToken* Node = nullptr;
    // The collation the reference compares under: the node's (a COLLATE
    // suffix overrides the column's own).
    int32_t Collation = 0;
    // Bound: the cell (image sources) or the value (others).
    TBRNImageCell Cell;
    const TBRNValue* Value = nullptr;
    // This row: the cell's bytes when the program reads them in place,
    // else nullptr (the value's getters).
    const uint8_t* Bytes = nullptr;
    std::string Copy;  // characters of a value that keeps none in place
  };
  struct TSource {
    int32_t Number = 0;  // the row source
    const TBRNValues* Row = nullptr;
    uint64_t Layout = 0;
    bool Image = false;  // the columns read from the image
    int64_t End = 0;     // the end of the furthest cell
    const uint8_t* Bytes = nullptr;
    bool Direct = false;  // this row: read from Bytes
    std::vector<int32_t> Columns;
  };
  // What Compile found for a node: its register and kind, or a hand-over.
  struct TOperand {
    int32_t Register = -1;
    TKind Kind = TKind::Bool;
    TBRNDataTypeCode Type = dtNull;
    bool Tree = false;
  };

  TBRNExprProgram(TBRNExprToken* Root, bool StandardNullBehavior);

  int32_t newRegister();
  // Emits Node (or its hand-over) and answers its operand; Depth bounds the
  // recursion (deeper nodes are handed over).
  TOperand emit(TBRNExprEvaluator& Evaluator, TBRNExprToken* Node, int32_t Depth);
  // Emits Node only when the program computes it itself; false (nothing
  // emitted) otherwise.
  bool emitCovered(TBRNExprEvaluator& Evaluator, TBRNExprToken* Node, int32_t Depth,
                   TOperand& Result);
  TOperand emitTree(TBRNExprToken* Node, bool Bool);
  bool emitConstant(TBRNExprToken* Node, TOperand& Result);
  bool emitColumn(TBRNExprToken* Node, TOperand& Result);
  // Operands of arithmetic and comparisons: covered, typed, no hand-over.
  bool emitValueOperand(TBRNExprEvaluator& Evaluator, TBRNExprToken* Node, int32_t Depth,
                        TOperand& Result);
  // Operands of AND, OR and NOT: anything, read as a truth.
  TOperand emitTruthOperand(TBRNExprEvaluator& Evaluator, TBRNExprToken* Node, int32_t Depth);
  // Drops what was emitted after the given sizes.
  void rollBack(size_t Code, size_t Columns);

  // Checks and binds every row source for this evaluation; false when the
  // tree must run instead.
  bool bind(TBRNExprEvaluator& Evaluator);
  bool bindSource(TSource& Source, const TBRNValues* Row, const TBRNRowImage& Image);
  void readColumn(TBRNExprEvaluator& Evaluator, TColumn& Column);
  // readColumn, with the usual image cells read inline.
  void fetchColumn(TBRNExprEvaluator& Evaluator, TColumn& Column);
  // Appends an instruction, taking the column reads of its operands that
  // come right before it into the instruction itself.
  void pushFused(TInstruction Instruction);
  // A comparison with a NULL operand.
  void compareNulls(const TInstruction& In, const TRegister& A, const TRegister& B,
                    TRegister& Out) const;
  // Runs the program; false when the tree ran instead.
  bool run(TBRNExprEvaluator& Evaluator);
  // The result register into the root's value, as the root's routine
  // writes it.
  void writeResult(TBRNExprEvaluator& Evaluator);

  TBRNExprToken* FRoot;
  const bool FStandardNullBehavior;
  std::vector<TInstruction> FCode;
  std::vector<TRegister> FRegisters;
  std::vector<TColumn> FColumns;
  std::vector<TSource> FSources;
  std::deque<std::string> FTexts;  // characters of the text constants
  TOperand FResult;
  int32_t FTreeNodeCount = 0;
  // Set by a hand-over: the rows may have moved, so the next column read
  // binds again.
  bool FRowsTouched = false;
};

}  // namespace brn
