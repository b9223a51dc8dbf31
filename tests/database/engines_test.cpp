// Vellum.Connection and Vellum.Recordset driven as scripts drive them, each test once on
// an SQLite file and once on a PostgreSQL server the program starts for itself.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "common/field_contract.h"
#include "database/connection_object.h"
#include "database/recordset_object.h"
#include "tests/support/automation.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/variant_values.h"

namespace {

using testing_support::ArrayBytes;
using testing_support::Automation;
using testing_support::ByteArray;
using testing_support::CallResult;

enum class Engine { kSqlite, kPostgres };

// A script's array of values: VT_ARRAY | VT_VARIANT.
template <typename... V>
Variant List(V&&... given) {
  std::vector<Variant> values;
  (values.push_back(std::forward<V>(given)), ...);
  Variant list;
  list.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
  auto* elements = static_cast<VARIANT*>(list.parray->pvData);
  for (size_t i = 0; i < values.size(); ++i) elements[i] = values[i].Detach();
  list.vt = VT_ARRAY | VT_VARIANT;
  return list;
}

Variant Big(LONGLONG value) {
  Variant big;
  big.vt = VT_I8;
  big.llVal = value;
  return big;
}

Variant Null() {
  Variant null;
  null.vt = VT_NULL;
  return null;
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

ComPtr<IDispatch> NewObject(bool recordset) {
  ComPtr<IDispatch> object;
  const HRESULT hr = recordset ? CreateComObject<database::RecordsetObject>(nullptr, IID_IDispatch,
                                                                            object.ReceiveVoid())
                               : CreateComObject<database::ConnectionObject>(nullptr, IID_IDispatch,
                                                                             object.ReceiveVoid());
  return SUCCEEDED(hr) ? object : nullptr;
}

ComPtr<IDispatch> AsObject(const CallResult& result) {
  return result.value.vt == VT_DISPATCH ? ComPtr<IDispatch>(result.value.pdispVal) : nullptr;
}

class EnginesTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Engine::kPostgres) {
      std::string error;
      const std::string target = testing_support::PostgresConnectionString(&error);
      ASSERT_FALSE(target.empty()) << "no PostgreSQL server: " << error;
      target_ = std::u16string(target.begin(), target.end());
    } else {
      const std::string path = "sqlite:" + dir_.File("photos.db");
      target_ = std::u16string(path.begin(), path.end());
    }
    connection_ = Open();
    ASSERT_TRUE(connection_);
    Run(u"DROP TABLE IF EXISTS photos");
    Run(u"DROP TABLE IF EXISTS tags");
    Run(u"CREATE TABLE photos (id " + AutoKey() +
        u", name VARCHAR(80), taken DOUBLE PRECISION, shown BOOLEAN, views BIGINT, photo BYTEA)");
  }

  bool Postgres() const { return GetParam() == Engine::kPostgres; }
  std::u16string AutoKey() const {
    return Postgres() ? u"SERIAL PRIMARY KEY" : u"INTEGER PRIMARY KEY";
  }

  ComPtr<IDispatch> Open() {
    ComPtr<IDispatch> connection = NewObject(false);
    const CallResult opened = Automation(connection.Get()).Call(u"Open", target_);
    EXPECT_EQ(opened.hr, S_OK) << std::string(opened.description.begin(), opened.description.end());
    return SUCCEEDED(opened.hr) ? connection : nullptr;
  }

  Automation Conn() { return Automation(connection_.Get()); }

  CallResult Run(const std::u16string& sql, Variant parameters = Variant::Missing()) {
    return Conn().Call(u"Execute", sql, std::move(parameters));
  }

  // An updatable recordset over `sql`.
  ComPtr<IDispatch> Editable(const std::u16string& sql, Variant parameters = Variant::Missing()) {
    ComPtr<IDispatch> recordset = NewObject(true);
    const CallResult opened = Automation(recordset.Get())
                                  .Call(u"Open", sql, testing_support::Dispatch(connection_.Get()),
                                        1, 3, 1, std::move(parameters));
    EXPECT_EQ(opened.hr, S_OK) << std::string(opened.description.begin(), opened.description.end());
    return recordset;
  }

  static CallResult FieldOf(IDispatch* recordset, const char16_t* name) {
    std::vector<Variant> index;
    index.push_back(Variant::String(name));
    return Automation(recordset).Invoke(DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                        std::move(index));
  }
  static CallResult ValueOf(IDispatch* recordset, const char16_t* name) {
    const ComPtr<IDispatch> field = AsObject(FieldOf(recordset, name));
    if (field) return Automation(field.Get()).Get(u"Value");
    CallResult failed;
    failed.hr = E_FAIL;
    return failed;
  }

  LONG Count(const std::u16string& where = u"") {
    const ComPtr<IDispatch> rows = AsObject(Run(u"SELECT count(*) AS n FROM photos " + where));
    return rows ? ValueOf(rows.Get(), u"n").Long() : -1;
  }

  // The whole value read with GetChunk as the image generator reads it.
  static std::vector<uint8_t> Chunks(IDispatch* field, LONG size) {
    std::vector<uint8_t> all;
    for (;;) {
      Variant chunk;
      if (field_contract::GetChunk(field, size, 0x800, &chunk) != S_OK || chunk.vt == VT_NULL) {
        return all;
      }
      const std::vector<uint8_t> piece = ArrayBytes(chunk);
      EXPECT_LE(piece.size(), static_cast<size_t>(size));
      all.insert(all.end(), piece.begin(), piece.end());
    }
  }

  testing_support::TempDir dir_;
  std::u16string target_;
  ComPtr<IDispatch> connection_;
};

TEST_P(EnginesTest, BoundValuesAreStoredAsValuesNeverAsSql) {
  const std::u16string hostile = u"'; DROP TABLE photos; -- \u00e9\u2603";
  const std::vector<uint8_t> bytes = {0, 1, 2, 255, 0, 39};
  const CallResult inserted =
      Run(u"INSERT INTO photos (name, taken, shown, views, photo) VALUES (?, ?, ?, ?, ?)",
          List(Variant::String(hostile), Variant::Double(2.5), Variant::Bool(true),
               Big(5000000000LL), ByteArray(bytes)));
  ASSERT_EQ(inserted.hr, S_OK) << std::string(inserted.description.begin(),
                                              inserted.description.end());
  EXPECT_EQ(inserted.Long(), 1);
  EXPECT_EQ(Count(), 1);  // the table survived

  const ComPtr<IDispatch> rows =
      AsObject(Run(u"SELECT * FROM photos WHERE name = ?", Variant::String(hostile)));
  ASSERT_TRUE(rows);
  EXPECT_EQ(Automation(rows.Get()).Get(u"RecordCount").Long(), 1);
  EXPECT_EQ(ValueOf(rows.Get(), u"name").Text(), hostile);
  EXPECT_EQ(ValueOf(rows.Get(), u"taken").Double(), 2.5);
  const CallResult shown = ValueOf(rows.Get(), u"shown");
  EXPECT_EQ(shown.value.vt, VT_BOOL);
  EXPECT_EQ(shown.value.boolVal, VARIANT_TRUE);
  const CallResult views = ValueOf(rows.Get(), u"views");
  ASSERT_EQ(views.value.vt, VT_I8);
  EXPECT_EQ(views.value.llVal, 5000000000LL);
  EXPECT_EQ(ArrayBytes(ValueOf(rows.Get(), u"photo").value), bytes);

  const ComPtr<IDispatch> photo = AsObject(FieldOf(rows.Get(), u"photo"));
  EXPECT_EQ(Automation(photo.Get()).Get(u"Type").Long(), 205);
  EXPECT_EQ(Automation(photo.Get()).Get(u"ActualSize").Long(), 6);
  const ComPtr<IDispatch> name = AsObject(FieldOf(rows.Get(), u"NAME"));  // case is ignored
  EXPECT_EQ(Automation(name.Get()).Get(u"Type").Long(), 202);
  EXPECT_EQ(Automation(name.Get()).Get(u"DefinedSize").Long(), 80);

  // NULL in and out; a value that is no value at all is refused.
  ASSERT_EQ(Run(u"UPDATE photos SET photo = ?", List(Null())).Long(), 1);
  const ComPtr<IDispatch> cleared = AsObject(Run(u"SELECT photo FROM photos"));
  EXPECT_EQ(ValueOf(cleared.Get(), u"photo").value.vt, VT_NULL);
  EXPECT_EQ(Run(u"SELECT * FROM photos WHERE id = ?", List(Variant::Missing())).Error(),
            DISP_E_TYPEMISMATCH);
}

TEST_P(EnginesTest, ValueCountsAndPlaceholdersMustAgree) {
  const CallResult fewer = Run(u"SELECT * FROM photos WHERE id = ? AND name = ?", Variant::Long(1));
  EXPECT_EQ(fewer.Error(), E_FAIL);
  EXPECT_NE(fewer.description.find(u"2 parameters and 1 values"), std::u16string::npos);
  // A '?' inside a quoted text is text, not a placeholder.
  const ComPtr<IDispatch> quoted =
      AsObject(Run(u"SELECT '?' AS mark, ? AS given", List(Variant::Long(7))));
  ASSERT_TRUE(quoted);
  EXPECT_EQ(ValueOf(quoted.Get(), u"mark").Text(), u"?");
  EXPECT_EQ(ValueOf(quoted.Get(), u"given").Long(), 7);
  // Values bind to one statement only.
  EXPECT_EQ(Run(u"DELETE FROM photos WHERE id = ?; DELETE FROM photos", Variant::Long(1)).Error(),
            E_FAIL);
  // A text holding a NUL is stored whole, or refused where the engine cannot hold it.
  const std::u16string withNul(u"a\0b", 3);
  const CallResult nul = Run(u"INSERT INTO photos (name) VALUES (?)", Variant::String(withNul));
  if (Postgres()) {
    EXPECT_NE(nul.description.find(u"NUL"), std::u16string::npos);
  } else {
    const ComPtr<IDispatch> stored = AsObject(Run(u"SELECT name FROM photos"));
    EXPECT_EQ(ValueOf(stored.Get(), u"name").Text(), withNul);
    Run(u"DELETE FROM photos");
  }
  // Without values a text may hold several statements.
  EXPECT_EQ(
      Run(u"INSERT INTO photos (name) VALUES ('a'); INSERT INTO photos (name) VALUES ('b')").Long(),
      2);
}

TEST_P(EnginesTest, FailuresCarryTheEnginesMessage) {
  const CallResult syntax = Run(u"SELEC 1");
  EXPECT_EQ(syntax.Error(), E_FAIL);
  EXPECT_NE(syntax.description.find(u"syntax error"), std::u16string::npos);
  const CallResult missing = Run(u"SELECT * FROM nowhere");
  EXPECT_NE(missing.description.find(u"nowhere"), std::u16string::npos);
  ASSERT_EQ(Conn().Call(u"Close").hr, S_OK);
  EXPECT_EQ(Conn().Get(u"State").Long(), 0);
  EXPECT_EQ(Run(u"SELECT 1").description, u"Operation is not allowed when the object is closed.");
  const ComPtr<IDispatch> other = NewObject(false);
  const CallResult refused = Automation(other.Get())
                                 .Call(u"Open", Postgres() ? u"host=/nonexistent dbname=x"
                                                           : u"sqlite:/nonexistent/dir/x.db");
  EXPECT_EQ(refused.Error(), E_FAIL);
  EXPECT_FALSE(refused.description.empty());
}

TEST_P(EnginesTest, RecordsetsMoveOverTheirRows) {
  Run(u"INSERT INTO photos (name) VALUES ('a'), ('b'), ('c')");
  const ComPtr<IDispatch> rows = AsObject(Run(u"SELECT name FROM photos ORDER BY name"));
  ASSERT_TRUE(rows);
  Automation rs(rows.Get());
  EXPECT_EQ(rs.Get(u"RecordCount").Long(), 3);
  EXPECT_EQ(rs.Get(u"BOF").value.boolVal, VARIANT_FALSE);
  std::u16string seen;
  while (rs.Get(u"EOF").value.boolVal == VARIANT_FALSE) {
    seen += ValueOf(rows.Get(), u"name").Text();
    ASSERT_EQ(rs.Call(u"MoveNext").hr, S_OK);
  }
  EXPECT_EQ(seen, u"abc");
  EXPECT_EQ(rs.Call(u"MoveNext").Error(), E_FAIL);  // past the end
  EXPECT_EQ(ValueOf(rows.Get(), u"name").Error(), E_FAIL);
  ASSERT_EQ(rs.Call(u"MoveLast").hr, S_OK);
  ASSERT_EQ(rs.Call(u"MovePrevious").hr, S_OK);
  EXPECT_EQ(ValueOf(rows.Get(), u"name").Text(), u"b");
  ASSERT_EQ(rs.Call(u"MoveFirst").hr, S_OK);
  EXPECT_EQ(ValueOf(rows.Get(), u"name").Text(), u"a");
  // Fields by position and by name, and their count.
  const ComPtr<IDispatch> fields = AsObject(rs.Get(u"Fields"));
  EXPECT_EQ(Automation(fields.Get()).Get(u"Count").Long(), 1);
  EXPECT_EQ(
      Automation(AsObject(Automation(fields.Get()).Get(u"Item", 0)).Get()).Get(u"Name").Text(),
      u"name");
  EXPECT_EQ(Automation(fields.Get()).Get(u"Item", 1).Error(), E_INVALIDARG);

  const ComPtr<IDispatch> none = AsObject(Run(u"SELECT * FROM photos WHERE id < 0"));
  EXPECT_EQ(Automation(none.Get()).Get(u"BOF").value.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Automation(none.Get()).Get(u"EOF").value.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Automation(none.Get()).Get(u"RecordCount").Long(), 0);
}

TEST_P(EnginesTest, EditsAreWrittenBackToTheTableByItsKey) {
  Run(u"INSERT INTO photos (name, views) VALUES ('a', 1), ('b', 2), ('c', 3)");
  const ComPtr<IDispatch> rows = Editable(u"SELECT id, name, views FROM photos ORDER BY id");
  Automation rs(rows.Get());
  // A value set and not written yet is what the field shows; a move writes it.
  ASSERT_EQ(Automation(AsObject(FieldOf(rows.Get(), u"views")).Get()).Put(u"Value", 10).hr, S_OK);
  EXPECT_EQ(ValueOf(rows.Get(), u"views").Long(), 10);
  EXPECT_EQ(Count(u"WHERE views = 10"), 0);
  ASSERT_EQ(rs.Call(u"MoveNext").hr, S_OK);
  EXPECT_EQ(Count(u"WHERE views = 10"), 1);
  // A cancelled edit writes nothing.
  Automation(AsObject(FieldOf(rows.Get(), u"name")).Get()).Put(u"Value", u"zzz");
  EXPECT_EQ(rs.Get(u"EditMode").Long(), 1);
  ASSERT_EQ(rs.Call(u"CancelUpdate").hr, S_OK);
  EXPECT_EQ(ValueOf(rows.Get(), u"name").Text(), u"b");
  // A value of the wrong kind is refused when it is set.
  EXPECT_EQ(
      Automation(AsObject(FieldOf(rows.Get(), u"views")).Get()).Put(u"Value", u"many").Error(),
      DISP_E_TYPEMISMATCH);
  // Delete, then AddNew: the new row's key comes back from the table.
  ASSERT_EQ(rs.Call(u"Delete").hr, S_OK);
  EXPECT_EQ(Count(u"WHERE name = 'b'"), 0);
  EXPECT_EQ(rs.Get(u"RecordCount").Long(), 2);
  ASSERT_EQ(rs.Call(u"AddNew").hr, S_OK);
  Automation(AsObject(FieldOf(rows.Get(), u"name")).Get()).Put(u"Value", u"d");
  ASSERT_EQ(rs.Call(u"Update").hr, S_OK);
  EXPECT_EQ(ValueOf(rows.Get(), u"id").Long(), 4);
  EXPECT_EQ(ValueOf(rows.Get(), u"views").value.vt, VT_NULL);
  const ComPtr<IDispatch> names = AsObject(Run(u"SELECT name FROM photos ORDER BY id"));
  std::u16string all;
  for (Automation n(names.Get()); n.Get(u"EOF").value.boolVal == VARIANT_FALSE;
       n.Call(u"MoveNext")) {
    all += ValueOf(names.Get(), u"name").Text();
  }
  EXPECT_EQ(all, u"acd");
  // Deleting a row being added only drops it: the row before it stays.
  ASSERT_EQ(rs.Call(u"AddNew").hr, S_OK);
  ASSERT_EQ(rs.Call(u"Delete").hr, S_OK);
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(ValueOf(rows.Get(), u"name").Text(), u"d");

  // A row changed underneath is not found by its old key.
  Run(u"UPDATE photos SET id = 40 WHERE id = 4");
  Automation(AsObject(FieldOf(rows.Get(), u"views")).Get()).Put(u"Value", 5);
  EXPECT_NE(rs.Call(u"Update").description.find(u"Row cannot be located"), std::u16string::npos);
  ASSERT_EQ(rs.Call(u"CancelUpdate").hr, S_OK);
}

TEST_P(EnginesTest, OnlyRowsOfOneTableWithTheirKeyCanBeWritten) {
  Run(u"INSERT INTO photos (name) VALUES ('a')");
  const ComPtr<IDispatch> readOnly = AsObject(Run(u"SELECT * FROM photos"));
  EXPECT_NE(
      Automation(readOnly.Get()).Call(u"AddNew").description.find(u"does not support updating"),
      std::u16string::npos);

  Run(u"CREATE TABLE tags (id " + AutoKey() + u", photo INTEGER, tag TEXT)");
  Run(u"INSERT INTO tags (photo, tag) VALUES (1, 'x')");
  const ComPtr<IDispatch> joined =
      Editable(u"SELECT p.name, t.tag FROM photos p JOIN tags t ON t.photo = p.id");
  EXPECT_NE(Automation(joined.Get()).Call(u"AddNew").description.find(u"more than one table"),
            std::u16string::npos);

  // Without the key a row cannot be found again, but a new one can be added.
  const ComPtr<IDispatch> keyless = Editable(u"SELECT name, views FROM photos");
  Automation(AsObject(FieldOf(keyless.Get(), u"views")).Get()).Put(u"Value", 3);
  EXPECT_EQ(Automation(keyless.Get()).Call(u"Update").description,
            u"Insufficient key column information for updating or refreshing.");
  Automation(keyless.Get()).Call(u"CancelUpdate");
  ASSERT_EQ(Automation(keyless.Get()).Call(u"AddNew").hr, S_OK);
  ASSERT_EQ(Automation(keyless.Get()).Call(u"Update").hr, S_OK);
  EXPECT_EQ(Count(), 2);
  // A computed column cannot be set.
  const ComPtr<IDispatch> computed = Editable(u"SELECT id, views + 1 AS more FROM photos");
  EXPECT_NE(Automation(AsObject(FieldOf(computed.Get(), u"more")).Get())
                .Put(u"Value", 1)
                .description.find(u"computed"),
            std::u16string::npos);
}

TEST_P(EnginesTest, FieldsStreamLargeValuesInPiecesBothWays) {
  const std::vector<uint8_t> image = RandomBytes(250000, 3);
  Run(u"INSERT INTO photos (name) VALUES ('big')");
  const ComPtr<IDispatch> rows = Editable(u"SELECT id, name, photo FROM photos");
  const ComPtr<IDispatch> photo = AsObject(FieldOf(rows.Get(), u"photo"));
  // Appended in pieces, as the image generator saves: the first piece of a run replaces.
  for (int round = 0; round < 2; ++round) {
    for (size_t at = 0; at < image.size(); at += 1000) {
      const size_t size = std::min<size_t>(1000, image.size() - at);
      Variant piece = ByteArray({image.begin() + at, image.begin() + at + size});
      ASSERT_EQ(field_contract::AppendChunk(photo.Get(), piece, 0x800), S_OK);
    }
    ValueOf(rows.Get(), u"name");  // using another field ends the run
  }
  ASSERT_EQ(Automation(rows.Get()).Call(u"Update").hr, S_OK);
  // Read back in pieces, on a fresh recordset; twice, since a finished read starts over.
  const ComPtr<IDispatch> fresh = AsObject(Run(u"SELECT photo FROM photos"));
  const ComPtr<IDispatch> stored = AsObject(FieldOf(fresh.Get(), u"photo"));
  LONG size = 0;
  ASSERT_EQ(field_contract::ActualSize(stored.Get(), 0x800, &size), S_OK);
  EXPECT_EQ(size, 250000);
  EXPECT_EQ(Chunks(stored.Get(), 1000), image);
  EXPECT_EQ(Chunks(stored.Get(), size), image);
  // The collection server's call: the whole length passed by reference.
  VARIANT length;
  length.vt = VT_BYREF | VT_I4;
  length.plVal = &size;
  Variant whole;
  ASSERT_EQ(field_contract::InvokeByName(stored.Get(), field_contract::kGetChunk, DISPATCH_METHOD,
                                         {&length, 1}, 0, &whole),
            S_OK);
  EXPECT_EQ(ArrayBytes(whole), image);
  // Its single AppendChunk of a referenced array replaces the value.
  const ComPtr<IDispatch> again = Editable(u"SELECT id, photo FROM photos");
  Variant small = ByteArray({7, 8, 9});
  Variant reference = testing_support::Reference(&small);
  ASSERT_EQ(field_contract::InvokeByName(AsObject(FieldOf(again.Get(), u"photo")).Get(),
                                         field_contract::kAppendChunk, DISPATCH_METHOD,
                                         {static_cast<VARIANT*>(&reference), 1}, 0, nullptr),
            S_OK);
  ASSERT_EQ(Automation(again.Get()).Call(u"Update").hr, S_OK);
  EXPECT_EQ(Count(u"WHERE length(photo) = 3"), 1);
  // Text goes in pieces of characters.
  const ComPtr<IDispatch> name = AsObject(FieldOf(again.Get(), u"photo"));
  EXPECT_EQ(Automation(name.Get()).Call(u"AppendChunk", u"text").Error(), DISP_E_TYPEMISMATCH);
}

TEST_P(EnginesTest, TransactionsNestAndRollBack) {
  EXPECT_EQ(Conn().Call(u"BeginTrans").Long(), 1);
  Run(u"INSERT INTO photos (name) VALUES ('kept')");
  EXPECT_EQ(Conn().Call(u"BeginTrans").Long(), 2);
  Run(u"INSERT INTO photos (name) VALUES ('dropped')");
  ASSERT_EQ(Conn().Call(u"RollbackTrans").hr, S_OK);
  ASSERT_EQ(Conn().Call(u"CommitTrans").hr, S_OK);
  EXPECT_EQ(Conn().Call(u"CommitTrans").Error(), E_FAIL);  // none is open
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Count(u"WHERE name = 'kept'"), 1);

  Conn().Call(u"BeginTrans");
  Run(u"INSERT INTO photos (name) VALUES ('undone')");
  ASSERT_EQ(Conn().Call(u"RollbackTrans").hr, S_OK);
  EXPECT_EQ(Count(), 1);

  // Closing with a transaction open rolls it back.
  Conn().Call(u"BeginTrans");
  Run(u"INSERT INTO photos (name) VALUES ('abandoned')");
  Conn().Call(u"Close");
  connection_ = Open();
  EXPECT_EQ(Count(), 1);

  // A commit after a failed statement: PostgreSQL only rolls such a transaction back,
  // which the commit reports; SQLite keeps the statements that succeeded.
  Conn().Call(u"BeginTrans");
  Run(u"INSERT INTO photos (name) VALUES ('first')");
  EXPECT_EQ(Run(u"INSERT INTO nowhere VALUES (1)").Error(), E_FAIL);
  const CallResult committed = Conn().Call(u"CommitTrans");
  EXPECT_EQ(committed.Error(), Postgres() ? E_FAIL : S_OK);
  EXPECT_EQ(Count(u"WHERE name = 'first'"), Postgres() ? 0 : 1);
  EXPECT_EQ(Conn().Call(u"CommitTrans").Error(), E_FAIL);  // it is over either way
}

// Pages on eight threads, each opening its own connection for every insert and select.
TEST_P(EnginesTest, ConcurrentPagesLoseNoRow) {
  constexpr int kThreads = 8;
  constexpr int kPages = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t, &failures] {
      for (int page = 0; page < kPages; ++page) {
        const std::vector<uint8_t> image = RandomBytes(3000 + page, t * 1000 + page);
        const ComPtr<IDispatch> connection = Open();
        if (!connection) {
          ++failures;
          continue;
        }
        Automation conn(connection.Get());
        const std::string number = std::to_string(t * kPages + page);
        const std::u16string name = u"page-" + std::u16string(number.begin(), number.end());
        const CallResult insertCall =
            conn.Call(u"Execute", u"INSERT INTO photos (name, photo) VALUES (?, ?) RETURNING id",
                      List(Variant::String(name), ByteArray(image)));
        if (FAILED(insertCall.hr)) {
          ADD_FAILURE() << std::string(insertCall.description.begin(),
                                       insertCall.description.end());
        }
        const ComPtr<IDispatch> inserted = AsObject(insertCall);
        const LONG id = inserted ? ValueOf(inserted.Get(), u"id").Long() : -1;
        const ComPtr<IDispatch> selected = AsObject(conn.Call(
            u"Execute", u"SELECT name, photo FROM photos WHERE id = ?", Variant::Long(id)));
        if (!selected || ValueOf(selected.Get(), u"name").Text() != name ||
            ArrayBytes(ValueOf(selected.Get(), u"photo").value) != image) {
          ++failures;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Count(), kThreads * kPages);
  const ComPtr<IDispatch> distinct = AsObject(Run(u"SELECT count(DISTINCT name) AS n FROM photos"));
  EXPECT_EQ(ValueOf(distinct.Get(), u"n").Long(), kThreads * kPages);
}

TEST(DatabaseLibraryTest, EveryMemberReachesItsMethod) {
  EXPECT_TRUE(automation::CheckLibrary(*database::DatabaseLibrary()).empty());
}

INSTANTIATE_TEST_SUITE_P(Engines, EnginesTest,
                         ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         [](const ::testing::TestParamInfo<Engine>& engine) {
                           return engine.param == Engine::kSqlite ? "SQLite" : "PostgreSQL";
                         });

}  // namespace

namespace {

// The process's pool of PostgreSQL connections, seen through the pages that use it.
class PostgresPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    const std::string target = testing_support::PostgresConnectionString(&error);
    ASSERT_FALSE(target.empty()) << "no PostgreSQL server: " << error;
    target_ = std::u16string(target.begin(), target.end());
  }
  ComPtr<IDispatch> Page() {
    ComPtr<IDispatch> connection = NewObject(false);
    EXPECT_EQ(Automation(connection.Get()).Call(u"Open", target_).hr, S_OK);
    return connection;
  }
  static CallResult Query(IDispatch* connection, const char16_t* sql) {
    const ComPtr<IDispatch> rows = AsObject(Automation(connection).Call(u"Execute", sql));
    if (!rows) return CallResult{E_FAIL, 0, {}, {}, 0, {}};
    std::vector<Variant> first;
    first.push_back(Variant::Long(0));
    const ComPtr<IDispatch> field = AsObject(
        Automation(rows.Get()).Invoke(DISPID_VALUE, DISPATCH_PROPERTYGET, std::move(first)));
    return Automation(field.Get()).Get(u"Value");
  }
  std::u16string target_;
};

TEST_F(PostgresPoolTest, APageGetsAPooledConnectionInAFreshSession) {
  ComPtr<IDispatch> first = Page();
  const LONG backend = Query(first.Get(), u"SELECT pg_backend_pid()").Long();
  Automation(first.Get()).Call(u"Execute", u"DROP TABLE IF EXISTS kept");
  Automation(first.Get()).Call(u"Execute", u"CREATE TABLE kept (x INTEGER)");
  Automation(first.Get()).Call(u"Execute", u"CREATE TEMP TABLE scratch (x INTEGER)");
  Automation(first.Get()).Call(u"Execute", u"SET application_name = 'first page'");
  Automation(first.Get()).Call(u"BeginTrans");
  Automation(first.Get()).Call(u"Execute", u"INSERT INTO kept VALUES (1)");
  first.Reset();  // the page ends without closing or committing

  const ComPtr<IDispatch> second = Page();
  EXPECT_EQ(Query(second.Get(), u"SELECT pg_backend_pid()").Long(), backend);
  EXPECT_EQ(Query(second.Get(), u"SELECT count(*) FROM kept").Long(), 0);
  EXPECT_EQ(Query(second.Get(), u"SELECT count(*) FROM pg_class WHERE relname = 'scratch'").Long(),
            0);
  EXPECT_EQ(Query(second.Get(), u"SHOW application_name").Text(), u"vellum");
}

TEST_F(PostgresPoolTest, AConnectionTheServerEndedIsNotLentAgain) {
  ComPtr<IDispatch> doomed = Page();
  const LONG backend = Query(doomed.Get(), u"SELECT pg_backend_pid()").Long();
  const ComPtr<IDispatch> other = Page();
  doomed.Reset();  // back in the pool
  const std::string pid = std::to_string(backend);
  const std::string end = "SELECT pg_terminate_backend(" + pid + ")";
  EXPECT_EQ(Query(other.Get(), std::u16string(end.begin(), end.end()).c_str()).value.boolVal,
            VARIANT_TRUE);
  const std::string gone = "SELECT count(*) FROM pg_stat_activity WHERE pid = " + pid;
  const std::u16string goneQuery(gone.begin(), gone.end());
  for (int wait = 0; wait < 100 && Query(other.Get(), goneQuery.c_str()).Long() != 0; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const ComPtr<IDispatch> next = Page();
  EXPECT_NE(Query(next.Get(), u"SELECT pg_backend_pid()").Long(), backend);
  EXPECT_EQ(Query(next.Get(), u"SELECT 41 + 1").Long(), 42);
}

}  // namespace
