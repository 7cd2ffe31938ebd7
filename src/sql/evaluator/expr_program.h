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
//     pattern without ESCAPE, all into Boolean nodes (a pattern of a
//     literal prefix and '%' under a binary collation compares the
//     prefix's bytes, which gives the matcher's answer).
// Every other node runs through the evaluator's own routines, subtree and
// all (functions, subqueries, aggregates, CASE, CAST, division, ...): it is
// evaluated exactly when the tree would evaluate it, so its side effects
// and errors are the tree's.
//
// A program that hands nothing over also has a jump form for the rows
// whose columns it reads hold no NULL: there every covered node is
// non-NULL, so conditions become tests that jump to the code of the next
// operand or to the answer, and no instruction carries a NULL flag. A row
// with a NULL runs the general form.
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
  // The instructions of the jump form for rows without NULLs; 0 when there
  // is none (the program hands a node over).
  int32_t GetNullFreeInstructionCount() const { return int32_t(FJumps.size()); }

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

  // The jump form's operations: arithmetic as in TOp; the tests jump to
  // OnTrue or OnFalse; SetFalse and SetTrue give a truth read as a value
  // (a compared Boolean) and jump to OnTrue; Accept, Reject and Done end
  // the run. The operations from CompareInteger to SetTrue are those that
  // jump: they stay together.
  enum class TJumpOp : uint8_t {
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
    Truth,
    Like,
    LikePrefix,
    Jump,
    SetFalse,
    SetTrue,
    Accept,
    Reject,
    Done,
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
    // outcomes (comparisons), whether the truth is read (Tree), the length
    // of the literal prefix of a pattern LIKE may match as a prefix, else
    // -1 (Like, NotLike).
    int32_t Aux = 0;
    int32_t PartialLength = 0;  // text comparisons
    // Column slots read into A and B right before the instruction runs.
    int32_t FetchA = -1;
    int32_t FetchB = -1;
    TBRNExprToken* Node = nullptr;
  };
  struct TJump {
    TJumpOp Op;
    uint8_t Mask = 0;       // comparisons: the passing outcomes
    bool IntegerA = false;  // float arithmetic: an integer operand
    bool IntegerB = false;
    int32_t Target = 0;
    int32_t A = 0;
    int32_t B = 0;
    int32_t OnTrue = 0;  // the tests' next instructions (negative: the answer)
    int32_t OnFalse = 0;
    int32_t PartialLength = 0;  // CompareText; the prefix length (LikePrefix)
    // Target, A and B in FRegisters, which no longer grows once compiled.
    TRegister* Out = nullptr;
    const TRegister* RA = nullptr;
    const TRegister* RB = nullptr;
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
  // A cell read straight into its register (see loadImages).
  struct TCellRead {
    const TBRNValue* Value = nullptr;  // the value the row lists there
    int32_t Index = 0;
    int32_t Offset = 0;
    int32_t Register = 0;
    int32_t Capacity = 0;
    int32_t Collation = 0;
    TBRNImageCellKind Kind = TBRNImageCellKind::None;
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
    std::vector<TCellRead> Reads;  // the columns' cells, when Image
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
  // tree must run instead. With Present set, also reads the columns into
  // their registers until one is NULL, which clears Present.
  bool bind(TBRNExprEvaluator& Evaluator, bool* Present = nullptr);
  bool bindSource(TSource& Source, const TBRNValues* Row, const TBRNRowImage& Image);
  // For the jump form: reads every column into its register when each
  // source is bound as before and read from its image, and no column is
  // NULL; false (maybe after reading some) otherwise, for bind to decide.
  bool loadImages(TBRNExprEvaluator& Evaluator);
  // Reads a non-NULL cell of kind at bytes (its NULL byte first) into reg;
  // false for a kind the program does not read from images.
  static bool loadCell(TRegister& reg, TBRNImageCellKind kind, const uint8_t* bytes,
                       int32_t capacity, int32_t collation);
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
  // Builds the jump form from the general one (nothing when a node is
  // handed over).
  void compileJumps();
  // Emits the tests of truth register Register, going on at label OnTrue or
  // OnFalse; and the code that computes value register Register.
  void jumpTruth(const std::vector<int32_t>& Defining, int32_t Register, int32_t OnTrue,
                 int32_t OnFalse);
  void jumpValue(const std::vector<int32_t>& Defining, int32_t Register);
  int32_t newLabel();
  void placeLabel(int32_t Label);
  // Runs the jump form over loaded columns: the result into its register.
  void runJumps();
  // The result register into the root's value, as the root's routine
  // writes it.
  void writeResult(TBRNExprEvaluator& Evaluator);

  TBRNExprToken* FRoot;
  const bool FStandardNullBehavior;
  std::vector<TInstruction> FCode;
  std::vector<TJump> FJumps;
  std::vector<int32_t> FLabels;  // while compiling: label -> instruction
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
