// A prepared WHERE condition of five terms evaluated through the evaluator
// over a million rows, against the same condition written as plain C++ over
// the same data:
//   (a > 100 AND b * 2 + c < 5000 AND name LIKE 'ab%') OR (d <> e AND f >= 10.5)
// The tree's leaves are column-like nodes whose values are loaded from the
// row before each evaluation, as a cursor loads its record; BM_LoadRowOnly
// measures that loading alone. Both sides match LIKE with the engine's
// matcher, so the difference is the cost of walking typed values.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "foundation/text/collation.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
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

// The condition over column nodes; Columns receives a, b, c, d, e, f, name.
TBRNExprToken* BuildCondition(std::vector<TBRNExprToken*>& Columns) {
  auto column = [&Columns](TBRNDataTypeCode Type) {
    TBRNExprToken* node = Node(tkColumnReference, opNone, Type);
    Columns.push_back(node);
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

void LoadRow(const Rows& r, size_t i, const std::vector<TBRNExprToken*>& Columns) {
  Columns[0]->Value->SetAsInteger(r.A[i]);
  Columns[1]->Value->SetAsInteger(r.B[i]);
  Columns[2]->Value->SetAsInteger(r.C[i]);
  Columns[3]->Value->SetAsInteger(r.D[i]);
  Columns[4]->Value->SetAsInteger(r.E[i]);
  Columns[5]->Value->SetAsFloat(r.F[i]);
  Columns[6]->Value->SetAsString(r.Name[i]);
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
  std::vector<TBRNExprToken*> columns;
  TBRNExprToken* tree = BuildCondition(columns);
  TBRNExprEvaluator evaluator(true);
  evaluator.Prepare(tree);
  evaluator.Evaluate(tree);  // creates every node's value once
  int64_t matches = 0;
  for (auto _ : State) {
    matches = 0;
    for (size_t i = 0; i < size_t(kRows); ++i) {
      LoadRow(r, i, columns);
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

void BM_LoadRowOnly(benchmark::State& State) {
  const Rows& r = Data();
  std::vector<TBRNExprToken*> columns;
  TBRNExprToken* tree = BuildCondition(columns);
  TBRNExprEvaluator evaluator(true);
  evaluator.Evaluate(tree);
  for (auto _ : State) {
    for (size_t i = 0; i < size_t(kRows); ++i) LoadRow(r, i, columns);
    benchmark::ClobberMemory();
  }
  State.SetItemsProcessed(State.iterations() * kRows);
  evaluator.Unprepare(tree);
  FreeExprTree(tree);
}

BENCHMARK(BM_PlainCondition)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EvaluatorCondition)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadRowOnly)->Unit(benchmark::kMillisecond);

}  // namespace
