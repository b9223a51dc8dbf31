// A 200 KB image stored into a database field and loaded from one, per engine, through
// the objects' IDispatch as a page script drives them:
//   store  an updatable recordset opened on the table, AddNew, the bytes appended in
//          pieces of 1000 as the image generator saves into a field (early-bound
//          AppendChunk calls), Update
//   load   a recordset of the row selected by a bound id, the field read with GetChunk
//          in pieces of 1000 until it reports the end, as the image generator loads
// SQLite works on a file in write-ahead-log mode; PostgreSQL on the server named by
// VELLUM_BENCH_POSTGRES (scripts/bench.sh starts one). bench/database_reference.py does
// the same with Python's sqlite3 and psycopg2.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "common/field_contract.h"
#include "database/connection_object.h"
#include "database/recordset_object.h"
#include "tests/support/automation.h"
#include "tests/support/variant_values.h"

namespace {

using testing_support::Automation;
using testing_support::CallResult;

constexpr size_t kImageBytes = 200 * 1024;
constexpr size_t kPiece = 1000;

std::vector<uint8_t> Image() {
  std::mt19937 rng(20);
  std::vector<uint8_t> bytes(kImageBytes);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

ComPtr<IDispatch> AsObject(const CallResult& result) {
  return result.value.vt == VT_DISPATCH ? ComPtr<IDispatch>(result.value.pdispVal) : nullptr;
}

std::u16string Wide(const std::string& text) { return {text.begin(), text.end()}; }

ComPtr<IDispatch> FieldNamed(IDispatch* recordset, const char16_t* name) {
  const ComPtr<IDispatch> fields = AsObject(Automation(recordset).Get(u"Fields"));
  return fields ? AsObject(Automation(fields.Get()).Get(u"Item", name)) : nullptr;
}

// A connection to the engine with an empty photos table; null (and the benchmark
// skipped) when the engine is not there.
ComPtr<IDispatch> Prepare(benchmark::State& state, bool postgres) {
  std::string target;
  if (postgres) {
    const char* server = std::getenv("VELLUM_BENCH_POSTGRES");
    if (server == nullptr) {
      state.SkipWithError("VELLUM_BENCH_POSTGRES names no server (scripts/bench.sh starts one)");
      return nullptr;
    }
    target = server;
  } else {
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("vellum-bench-" + std::to_string(getpid()) + ".db");
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + suffix);
    target = "sqlite:" + file.string();
  }
  ComPtr<IDispatch> connection;
  CreateComObject<database::ConnectionObject>(nullptr, IID_IDispatch, connection.ReceiveVoid());
  Automation conn(connection.Get());
  if (conn.Call(u"Open", Wide(target)).hr != S_OK) {
    state.SkipWithError("the database cannot be opened");
    return nullptr;
  }
  conn.Call(u"Execute", u"DROP TABLE IF EXISTS photos");
  conn.Call(u"Execute", postgres ? u"CREATE TABLE photos (id SERIAL PRIMARY KEY, photo BYTEA)"
                                 : u"CREATE TABLE photos (id INTEGER PRIMARY KEY, photo BLOB)");
  return connection;
}

// AddNew with the bytes appended in pieces, then Update; the new row's id.
LONG Store(IDispatch* connection, const std::vector<uint8_t>& image) {
  ComPtr<IDispatch> recordset;
  CreateComObject<database::RecordsetObject>(nullptr, IID_IDispatch, recordset.ReceiveVoid());
  Automation rs(recordset.Get());
  rs.Call(u"Open", u"SELECT id, photo FROM photos WHERE id < 0",
          testing_support::Dispatch(connection), 1, 3);
  rs.Call(u"AddNew");
  const ComPtr<IDispatch> field = FieldNamed(recordset.Get(), u"photo");
  if (!field) return -1;
  for (size_t at = 0; at < image.size(); at += kPiece) {
    const size_t size = std::min(kPiece, image.size() - at);
    const Variant piece =
        testing_support::ByteArray({image.begin() + at, image.begin() + at + size});
    field_contract::AppendChunk(field.Get(), piece, 0x800);
  }
  if (rs.Call(u"Update").hr != S_OK) return -1;
  return Automation(FieldNamed(recordset.Get(), u"id").Get()).Get(u"Value").Long();
}

// The row's field read in pieces until it reports the end; the bytes read.
size_t Load(IDispatch* connection, LONG id) {
  const ComPtr<IDispatch> rows = AsObject(
      Automation(connection).Call(u"Execute", u"SELECT photo FROM photos WHERE id = ?", id));
  const ComPtr<IDispatch> field = rows ? FieldNamed(rows.Get(), u"photo") : nullptr;
  if (!field) return 0;
  size_t total = 0;
  for (;;) {
    Variant chunk;
    if (field_contract::GetChunk(field.Get(), kPiece, 0x800, &chunk) != S_OK ||
        chunk.vt == VT_NULL) {
      return total;
    }
    total += SafeArrayElementCount(chunk.parray);
  }
}

void Report(benchmark::State& state, bool ok) {
  if (!ok) state.SkipWithError("a store or load failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}

void BM_Store(benchmark::State& state, bool postgres) {
  const ComPtr<IDispatch> connection = Prepare(state, postgres);
  if (!connection) return;
  const std::vector<uint8_t> image = Image();
  bool ok = true;
  for (auto _ : state) ok = ok && Store(connection.Get(), image) > 0;
  Report(state, ok);
}

void BM_Load(benchmark::State& state, bool postgres) {
  const ComPtr<IDispatch> connection = Prepare(state, postgres);
  if (!connection) return;
  const LONG id = Store(connection.Get(), Image());
  bool ok = id > 0;
  for (auto _ : state) ok = ok && Load(connection.Get(), id) == kImageBytes;
  Report(state, ok);
}

void BM_StoreAndLoad(benchmark::State& state, bool postgres) {
  const ComPtr<IDispatch> connection = Prepare(state, postgres);
  if (!connection) return;
  const std::vector<uint8_t> image = Image();
  bool ok = true;
  for (auto _ : state) {
    const LONG id = Store(connection.Get(), image);
    ok = ok && id > 0 && Load(connection.Get(), id) == kImageBytes;
  }
  Report(state, ok);
}

BENCHMARK_CAPTURE(BM_StoreAndLoad, SQLite, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Store, SQLite, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, SQLite, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StoreAndLoad, PostgreSQL, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Store, PostgreSQL, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, PostgreSQL, true)->Unit(benchmark::kMillisecond);

}  // namespace
