// A prepared WHERE condition of five terms evaluated through the evaluator
// over a million rows, against the same condition written as plain C++ over
// the same data:
//   (a > 100 AND b * 2 + c < 5000 AND name LIKE 'ab%') OR (d <> e AND f >= 10.5)
// The tree's leaves are column references prepared to read the evaluation's
// current row, whose values read their data in place at the cursor's
// position, as the storage's row values read the row buffer: moving to the
// next row copies nothing. The plain side matches LIKE with the engine's
// matcher; the tree too, and the program as the engine does for a pattern
// of a literal prefix and '%' under a binary collation (a byte comparison
// of the prefix, with the matcher's result).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "foundation/text/collation.h"
#include "foundation/values/value.h"
#include "foundation/values/value_list.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/expr_program.h"
#include "sql/evaluator/image_row.h"
#include "sql/tree/expr_token.h"

namespace {

using namespace brn;

constexpr int32_t kRows = 1000000;

struct Rows {
  std::vector<int32_t> A, B, C, D, E;
  std::vector<double> F;
  std::vector<std::string> Name;
};

const Rows& Data() {
  static const Rows rows = [] {
    Rows r;
    std::mt19937 random(42);
    std::uniform_int_distribution<int32_t> small(0, 200);
    std::uniform_int_distribution<int32_t> wide(0, 4000);
    const char* prefixes[] = {"ab", "ac", "ba", "xy"};
    for (int32_t i = 0; i < kRows; ++i) {
      r.A.push_back(small(random));
      r.B.push_back(wide(random));
      r.C.push_back(wide(random));
      r.D.push_back(small(random) % 4);
      r.E.push_back(small(random) % 4);
      r.F.push_back(double(wide(random)) / 100.0);
      r.Name.push_back(std::string(prefixes[random() % 4]) + "name" + std::to_string(i % 97));
    }
    return r;
  }();
  return rows;
}

bool PlainCondition(const Rows& r, size_t i) {
  return (r.A[i] > 100 && r.B[i] * 2 + r.C[i] < 5000 &&
          MatchLikePattern(0, r.Name[i], "ab%", '%', '_', 0)) ||
         (r.D[i] != r.E[i] && r.F[i] >= 10.5);
}

TBRNExprToken* Node(TBRNExprTokenKind Kind, TBRNExprOperation Operation, TBRNDataTypeCode Type) {
  auto* node = new TBRNExprToken();
  node->Kind = Kind;
  node->Operation = Operation;
  node->SetDataType(Type);
  return node;
}

// A read-only column value over one column of Rows at the cursor's
// position.
class ColumnValue final : public TBRNValue {
 public:
  ColumnValue(TBRNDataTypeCode Type, const size_t& Position, const std::vector<int32_t>* Ints,
              const std::vector<double>* Floats, const std::vector<std::string>* Texts)
      : Position(Position), Ints(Ints), Floats(Floats), Texts(Texts) {
    SetDataType(Type);
  }

  bool GetNull() const override { return false; }
  void SetNullFlag(bool) override { readOnly(); }
  int32_t GetDataSize() const override { return 0; }
  void SetDataSize(int32_t) override { readOnly(); }
  int32_t GetLength() const override { return 0; }
  void SetLength(int32_t) override { readOnly(); }
  const TBRNMemoryStream* GetStreamData() const override { return nullptr; }
  void GetStringData(std::string& Text) const override { Text = (*Texts)[Position]; }
  const char* GetStringBuffer(int32_t& Length) const override {
    const std::string& text = (*Texts)[Position];
    Length = int32_t(text.size());
    return text.data();
  }
  void GetBytesData(TBRNBytes& Bytes) const override { Bytes.clear(); }
  const uint8_t* GetBytesBuffer(int32_t& Length) const override {
    Length = 0;
    return nullptr;
  }
  bool GetBooleanData() const override { return false; }
  int16_t GetSmallIntData() const override { return int16_t(GetInt32Data()); }
  int32_t GetInt32Data() const override { return (*Ints)[Position]; }
  int64_t GetInt64Data() const override { return GetInt32Data(); }
  int64_t GetDecimalData() const override { return int64_t(GetFloatData() * 10000); }
  double GetFloatData() const override { return (*Floats)[Position]; }
  void SetStringData(std::string_view) override { readOnly(); }
  void SetBytesData(std::span<const uint8_t>) override { readOnly(); }
  void SetStreamData(TBRNStream*, int32_t) override { readOnly(); }
  void SetBooleanData(bool) override { readOnly(); }
  void SetSmallIntData(int16_t) override { readOnly(); }
  void SetInt32Data(int32_t) override { readOnly(); }
  void SetInt64Data(int64_t) override { readOnly(); }
  void SetDecimalData(int64_t) override { readOnly(); }
  void SetFloatData(double) override { readOnly(); }

 private:
  [[noreturn]] static void readOnly() { throw std::logic_error("a column value is read-only"); }

  const size_t& Position;
  const std::vector<int32_t>* Ints;
  const std::vector<double>* Floats;
  const std::vector<std::string>* Texts;
};

// The current row over Rows: a, b, c, d, e, f, name at the cursor's
// position.
struct CursorRow {
  size_t Position = 0;
  TBRNValues Values;

  explicit CursorRow(const Rows& r) {
    for (const std::vector<int32_t>* ints : {&r.A, &r.B, &r.C, &r.D, &r.E})
      Values.Add(new ColumnValue(dtInteger, Position, ints, nullptr, nullptr));
    Values.Add(new ColumnValue(dtFloat, Position, nullptr, &r.F, nullptr));
    Values.Add(new ColumnValue(dtChar, Position, nullptr, nullptr, &r.Name));
  }
};

TBRNExprToken* Constant(TBRNDataTypeCode Type, std::string Text) {
  TBRNExprToken* node = Node(tkConstant, opNone, Type);
  node->Text = std::move(Text);
  return node;
}

TBRNExprToken* Binary(TBRNExprOperation Operation, TBRNDataTypeCode Type, TBRNExprToken* Left,
                      TBRNExprToken* Right) {
  TBRNExprToken* node = Node(tkOperator, Operation, Type);
  node->SetLeft(Left);
  node->SetRight(Right);
  return node;
}

// The condition over the columns a, b, c, d, e, f, name (column numbers 0
// to 6 of the current row).
TBRNExprToken* BuildCondition() {
  int32_t columns = 0;
  auto column = [&columns](TBRNDataTypeCode Type) {
    TBRNExprToken* node = Node(tkColumnReference, opNone, Type);
    node->Index = columns++;
    return node;
  };
  TBRNExprToken* a = column(dtInteger);
  TBRNExprToken* b = column(dtInteger);
  TBRNExprToken* c = column(dtInteger);
  TBRNExprToken* d = column(dtInteger);
  TBRNExprToken* e = column(dtInteger);
  TBRNExprToken* f = column(dtFloat);
  TBRNExprToken* name = column(dtChar);
  TBRNExprToken* like = Node(tkPredicate, opLike, dtBoolean);
  like->AddArgument(name);
  like->AddArgument(Constant(dtChar, "ab%"));
  TBRNExprToken* first =
      Binary(opAnd, dtBoolean,
             Binary(opAnd, dtBoolean, Binary(opGreater, dtBoolean, a, Constant(dtInteger, "100")),
                    Binary(opLess, dtBoolean,
                           Binary(opAdd, dtInteger,
                                  Binary(opMultiply, dtInteger, b, Constant(dtInteger, "2")), c),
                           Constant(dtInteger, "5000"))),
             like);
  TBRNExprToken* second = Binary(opAnd, dtBoolean, Binary(opNotEqual, dtBoolean, d, e),
                                 Binary(opGreaterOrEqual, dtBoolean, f, Constant(dtFloat, "10.5")));
  return Binary(opOr, dtBoolean, first, second);
}

void BM_PlainCondition(benchmark::State& State) {
  const Rows& r = Data();
  int64_t matches = 0;
  for (auto _ : State) {
    matches = 0;
    for (size_t i = 0; i < size_t(kRows); ++i) matches += PlainCondition(r, i);
    benchmark::DoNotOptimize(matches);
  }
  State.counters["matches"] = double(matches);
  State.SetItemsProcessed(State.iterations() * kRows);
}

void BM_EvaluatorCondition(benchmark::State& State) {
  const Rows& r = Data();
  CursorRow row(r);
  const TBRNCurrentRows rows{&row.Values};
  TBRNExprToken* tree = BuildCondition();
  TBRNExprEvaluator evaluator(true);
  evaluator.CurrentRows = &rows;
  evaluator.Prepare(tree);
  evaluator.Evaluate(tree);  // creates every node's value once
  int64_t matches = 0;
  for (auto _ : State) {
    matches = 0;
    for (row.Position = 0; row.Position < size_t(kRows); ++row.Position) {
      evaluator.Evaluate(tree);
      matches += !tree->Value->GetNull() && tree->Value->GetAsBoolean();
    }
    benchmark::DoNotOptimize(matches);
  }
  // Both sides must agree on the answer.
  int64_t expected = 0;
  for (size_t i = 0; i < size_t(kRows); ++i) expected += PlainCondition(r, i);
  if (matches != expected) State.SkipWithError("the evaluator and the plain code disagree");
  State.counters["matches"] = double(matches);
  State.SetItemsProcessed(State.iterations() * kRows);
  evaluator.Unprepare(tree);
  FreeExprTree(tree);
}

// The same tree compiled into a flat program, over the same column values
// (read through their getters, one call per column).
void BM_ProgramCondition(benchmark::State& State) {
  const Rows& r = Data();
  CursorRow row(r);
  const TBRNCurrentRows rows{&row.Values};
  TBRNExprToken* tree = BuildCondition();
  TBRNExprEvaluator evaluator(true);
  evaluator.CurrentRows = &rows;
  evaluator.Prepare(tree);
  std::unique_ptr<TBRNExprProgram> program = TBRNExprProgram::Compile(evaluator, tree);
  int64_t matches = 0;
  for (auto _ : State) {
    matches = 0;
    for (row.Position = 0; row.Position < size_t(kRows); ++row.Position)
      matches += program->Test(evaluator);
    benchmark::DoNotOptimize(matches);
  }
  int64_t expected = 0;
  for (size_t i = 0; i < size_t(kRows); ++i) expected += PlainCondition(r, i);
  if (matches != expected) State.SkipWithError("the program and the plain code disagree");
  State.counters["matches"] = double(matches);
  State.SetItemsProcessed(State.iterations() * kRows);
  program.reset();
  evaluator.Unprepare(tree);
  FreeExprTree(tree);
}

// The program over rows kept as row images, as the row files keep them:
// the program reads the cells itself, the cursor only moves the image.
void BM_ProgramImageCondition(benchmark::State& State) {
  const Rows& r = Data();
  testing::ImageRow row({{dtInteger},
                         {dtInteger},
                         {dtInteger},
                         {dtInteger},
                         {dtInteger},
                         {dtFloat},
                         {dtChar, 16, false, 0}},
                        true);
  const size_t size = size_t(row.GetRowSize());
  std::vector<uint8_t> images(size * size_t(kRows));
  for (size_t i = 0; i < size_t(kRows); ++i) {
    row.SetScalar<int32_t>(0, r.A[i]);
    row.SetScalar<int32_t>(1, r.B[i]);
    row.SetScalar<int32_t>(2, r.C[i]);
    row.SetScalar<int32_t>(3, r.D[i]);
    row.SetScalar<int32_t>(4, r.E[i]);
    row.SetScalar<double>(5, r.F[i]);
    row.SetText(6, r.Name[i]);
    std::memcpy(images.data() + i * size, row.GetBytes(), size);
  }
  const TBRNCurrentRows rows{&row};
  TBRNExprToken* tree = BuildCondition();
  TBRNExprEvaluator evaluator(true);
  evaluator.CurrentRows = &rows;
  evaluator.Prepare(tree);
  std::unique_ptr<TBRNExprProgram> program = TBRNExprProgram::Compile(evaluator, tree);
  int64_t matches = 0;
  for (auto _ : State) {
    matches = 0;
    for (size_t i = 0; i < size_t(kRows); ++i) {
      row.SetBytes(images.data() + i * size);
      matches += program->Test(evaluator);
    }
    benchmark::DoNotOptimize(matches);
  }
  int64_t expected = 0;
  for (size_t i = 0; i < size_t(kRows); ++i) expected += PlainCondition(r, i);
  if (matches != expected) State.SkipWithError("the program and the plain code disagree");
  State.counters["matches"] = double(matches);
  State.SetItemsProcessed(State.iterations() * kRows);
  program.reset();
  evaluator.Unprepare(tree);
  FreeExprTree(tree);
}

BENCHMARK(BM_PlainCondition)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EvaluatorCondition)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramCondition)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramImageCondition)->Unit(benchmark::kMillisecond);

}  // namespace
