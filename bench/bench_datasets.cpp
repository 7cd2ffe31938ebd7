// Scrolling the 100,000 rows of T from first to last through a dataset over
// the cursor of "SELECT * FROM T" against a plain loop over the same cursor
// that reads each row and its ID, locally (a session in the server's engine)
// and remotely (over loopback TCP). The remote plain loop fetches as many
// rows per request as the dataset reads ahead (10), so the ratio shows what
// the record buffers, bookmarks and field access cost on top of the cursor.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "clientserver/components/data_set_component.h"
#include "clientserver/remote/remote_cursor.h"
#include "sessions/manager_interfaces.h"
#include "storage/cursors/cursor.h"

#include "clientserver_bench_host.h"

namespace brn {
namespace {

using bench::Client;
using bench::kRows;

constexpr int32_t kReadAheadRows = 10;

// A dataset over the cursor of one prepared SELECT; the cursor goes with the
// client when the dataset closes.
class StatementDataSet : public TBRNDataSet {
 public:
  StatementDataSet(Client& client, TBRNStatementManager& statement)
      : TBRNDataSet(nullptr), client_(client), statement_(statement) {}
  ~StatementDataSet() override { Close(); }

 protected:
  TBRNCursor* CreateCursor() override { return cursor_ = statement_.ExecuteStatement(); }
  void DestroyCursor() override {
    TBRNDataSet::DestroyCursor();
    if (cursor_ != nullptr) client_.Free(cursor_);
    cursor_ = nullptr;
  }

 private:
  Client& client_;
  TBRNStatementManager& statement_;
  TBRNCursor* cursor_ = nullptr;
};

void DataSetScroll(benchmark::State& state, bool remote) {
  Client client(remote);
  TBRNStatementManager* select = client.Prepare("SELECT * FROM T");
  int64_t rows = 0;
  int64_t sum = 0;
  {
    StatementDataSet dataSet(client, *select);
    for (auto _ : state) {
      dataSet.Open();
      TField& id = dataSet.FieldByName("ID");
      rows = 0;
      while (!dataSet.GetEof()) {
        sum += id.GetAsInteger();
        ++rows;
        dataSet.Next();
      }
      dataSet.Close();
    }
  }
  client.Free(select);
  benchmark::DoNotOptimize(sum);
  if (rows != kRows) state.SkipWithError("not every row was read");
  state.SetItemsProcessed(state.iterations() * rows);
}

void CursorScroll(benchmark::State& state, bool remote) {
  Client client(remote);
  TBRNStatementManager* select = client.Prepare("SELECT * FROM T");
  int64_t rows = 0;
  int64_t sum = 0;
  for (auto _ : state) {
    TBRNCursor* cursor = select->ExecuteStatement();
    if (remote) static_cast<TBRNRemoteCursor*>(cursor)->RowsPerBlock = kReadAheadRows;
    std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
    const int32_t idIndex = cursor->GetCursorColumns().GetColumn(0)->GetTableColumn()->Index;
    rows = 0;
    for (bool on = cursor->FirstRow(); on && !cursor->GetEof(); on = cursor->NextRow()) {
      cursor->GetCurrentRow(*row, false);
      sum += row->Values.GetItem(idIndex)->GetAsInteger();
      ++rows;
    }
    row.reset();
    client.Free(cursor);
  }
  client.Free(select);
  benchmark::DoNotOptimize(sum);
  if (rows != kRows) state.SkipWithError("not every row was read");
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_Local_DataSetScroll(benchmark::State& state) {
  DataSetScroll(state, false);
}
void BM_Local_CursorScroll(benchmark::State& state) {
  CursorScroll(state, false);
}
void BM_Remote_DataSetScroll(benchmark::State& state) {
  DataSetScroll(state, true);
}
void BM_Remote_CursorScroll(benchmark::State& state) {
  CursorScroll(state, true);
}
BENCHMARK(BM_Local_DataSetScroll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Local_CursorScroll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Remote_DataSetScroll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Remote_CursorScroll)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brn

BENCHMARK_MAIN();
