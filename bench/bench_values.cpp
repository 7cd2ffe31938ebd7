// Typed values against plain C++ values holding the same data: comparing
// rows of mixed values column by column, and writing a row to its stream
// form and reading it back.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/values/contained_value.h"
#include "foundation/core/memory_stream.h"

namespace {

using namespace brn;

constexpr int kRows = 256;

struct PlainRow {
  int32_t Integer;
  int64_t BigInt;
  double Float;
  int64_t Decimal;
  std::string Text;
  int32_t Date;
  int64_t Timestamp;
  bool Boolean;
};

using ValueRow = std::vector<std::unique_ptr<TBRNContainedValue>>;

std::unique_ptr<TBRNContainedValue> makeValue(TBRNDataTypeCode type, int32_t length = 0,
                                              int32_t scale = 0) {
  auto value = std::make_unique<TBRNContainedValue>();
  value->SetDataType(type);
  value->SetLength(length);
  value->SetScale(scale);
  return value;
}

// Rows that often share leading columns, so comparisons run into the row.
std::vector<PlainRow> makePlainRows() {
  uint32_t seed = 4711;
  auto next = [&seed](uint32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % bound;
  };
  std::vector<PlainRow> rows;
  for (int i = 0; i < kRows; ++i) {
    PlainRow row;
    row.Integer = int32_t(next(4));
    row.BigInt = int64_t(next(4)) * 1000000007LL;
    row.Float = double(next(4)) / 4.0;
    row.Decimal = int64_t(next(4)) * 2500;
    row.Text = "customer " + std::to_string(next(8));
    row.Date = 738000 + int32_t(next(1000));
    row.Timestamp = int64_t(row.Date) * 86400000 + next(86400000);
    row.Boolean = next(2) == 1;
    rows.push_back(row);
  }
  return rows;
}

ValueRow makeValueRow(const PlainRow& plain) {
  ValueRow row;
  row.push_back(makeValue(dtInteger));
  row.back()->SetAsInteger(plain.Integer);
  row.push_back(makeValue(dtBigInt));
  row.back()->SetAsBigInt(plain.BigInt);
  row.push_back(makeValue(dtFloat));
  row.back()->SetAsFloat(plain.Float);
  row.push_back(makeValue(dtDecimal, 0, 2));
  row.back()->SetAsDecimal(plain.Decimal);
  row.push_back(makeValue(dtChar, 40));
  row.back()->SetAsString(plain.Text);
  row.push_back(makeValue(dtDate));
  row.back()->SetAsDate(plain.Date);
  row.push_back(makeValue(dtTimestamp));
  row.back()->SetAsTimestamp(plain.Timestamp);
  row.push_back(makeValue(dtBoolean));
  row.back()->SetAsBoolean(plain.Boolean);
  return row;
}

template <typename T>
int comparePlain(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int comparePlainRows(const PlainRow& a, const PlainRow& b) {
  if (int r = comparePlain(a.Integer, b.Integer)) return r;
  if (int r = comparePlain(a.BigInt, b.BigInt)) return r;
  if (int r = comparePlain(a.Float, b.Float)) return r;
  if (int r = comparePlain(a.Decimal, b.Decimal)) return r;
  if (int r = a.Text.compare(b.Text)) return r < 0 ? -1 : 1;
  if (int r = comparePlain(a.Date, b.Date)) return r;
  if (int r = comparePlain(a.Timestamp, b.Timestamp)) return r;
  return comparePlain(a.Boolean, b.Boolean);
}

int compareValueRows(const ValueRow& a, const ValueRow& b) {
  for (size_t i = 0; i < a.size(); ++i)
    if (int r = a[i]->Compare(*b[i], 0, false, 0)) return r;
  return 0;
}

void BM_CompareRows_Plain(benchmark::State& state) {
  std::vector<PlainRow> rows = makePlainRows();
  for (auto _ : state) {
    int sum = 0;
    for (int i = 0; i + 1 < kRows; ++i) sum += comparePlainRows(rows[i], rows[i + 1]);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * (kRows - 1));
}
BENCHMARK(BM_CompareRows_Plain);

void BM_CompareRows_Values(benchmark::State& state) {
  std::vector<ValueRow> rows;
  for (const PlainRow& plain : makePlainRows()) rows.push_back(makeValueRow(plain));
  for (auto _ : state) {
    int sum = 0;
    for (int i = 0; i + 1 < kRows; ++i) sum += compareValueRows(rows[i], rows[i + 1]);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * (kRows - 1));
}
BENCHMARK(BM_CompareRows_Values);

// The reference writes and reads the same fields straight through the
// stream's typed encodings.
void BM_StreamRows_Plain(benchmark::State& state) {
  std::vector<PlainRow> rows = makePlainRows();
  std::vector<PlainRow> copies(rows.size());
  TBRNMemoryStream stream;
  stream.SetCapacity(1 << 16);
  for (auto _ : state) {
    stream.SetPosition(0);
    for (const PlainRow& row : rows) {
      stream.WriteInteger(row.Integer);
      stream.WriteInt64(row.BigInt);
      stream.WriteDouble(row.Float);
      stream.WriteCurrency(row.Decimal);
      stream.WriteString(row.Text);
      stream.WriteInteger(row.Date);
      stream.WriteInt64(row.Timestamp);
      stream.WriteBoolean(row.Boolean);
    }
    stream.SetPosition(0);
    for (PlainRow& row : copies) {
      row.Integer = stream.ReadInteger();
      row.BigInt = stream.ReadInt64();
      row.Float = stream.ReadDouble();
      row.Decimal = stream.ReadCurrency();
      stream.ReadString(row.Text);
      row.Date = stream.ReadInteger();
      row.Timestamp = stream.ReadInt64();
      row.Boolean = stream.ReadBoolean();
    }
    benchmark::DoNotOptimize(copies.data());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_StreamRows_Plain);

void BM_StreamRows_Values(benchmark::State& state) {
  std::vector<ValueRow> rows;
  std::vector<ValueRow> copies;
  for (const PlainRow& plain : makePlainRows()) {
    rows.push_back(makeValueRow(plain));
    copies.push_back(makeValueRow(plain));
  }
  TBRNMemoryStream stream;
  stream.SetCapacity(1 << 16);
  for (auto _ : state) {
    stream.SetPosition(0);
    for (const ValueRow& row : rows)
      for (const auto& value : row) value->SaveToStream(stream);
    stream.SetPosition(0);
    for (ValueRow& row : copies)
      for (auto& value : row) value->LoadFromStream(stream);
    benchmark::DoNotOptimize(copies.data());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_StreamRows_Values);

}  // namespace
