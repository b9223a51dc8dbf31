// "Vellum.Database" and its fields through IDispatch, on real SQLite files.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/field_contract.h"
#include "database/database_objects.h"
#include "platform/com/safe_array.h"
#include "tests/support/allowed_folders.h"
#include "tests/support/automation.h"
#include "tests/support/file_faults.h"
#include "tests/support/temp_dir.h"
#include "tests/support/variant_values.h"

namespace {

using testing_support::ArrayBytes;
using testing_support::Automation;
using testing_support::ByteArray;
using testing_support::CallResult;

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CreateComObject<database::Database>(nullptr, IID_IDispatch, db_.ReceiveVoid()), S_OK);
    ASSERT_EQ(Db().Call(u"Open", Path()).hr, S_OK);
    ASSERT_EQ(Execute(u"CREATE TABLE images (id INTEGER PRIMARY KEY, name TEXT, data BLOB)"), 0);
    ASSERT_EQ(Execute(u"INSERT INTO images (name) VALUES ('a'), ('b'), ('c')"), 3);
  }
  Automation Db() { return Automation(db_.Get()); }
  std::u16string Path() const {
    const std::string path = dir_.File("images.db");
    return {path.begin(), path.end()};
  }
  LONG Execute(const char16_t* sql) { return Db().Call(u"Execute", sql).Long(); }
  ComPtr<IDispatch> Field(LONG rowid, const char16_t* column = u"data") {
    const CallResult field = Db().Call(u"Field", u"images", column, static_cast<int>(rowid));
    return field.value.vt == VT_DISPATCH ? ComPtr<IDispatch>(field.value.pdispVal) : nullptr;
  }
  // The whole value, read as the image generator reads it.
  static std::vector<uint8_t> ReadAll(IDispatch* field, LONG chunk) {
    std::vector<uint8_t> all;
    for (;;) {
      const CallResult read = Automation(field).Call(u"GetChunk", static_cast<int>(chunk));
      if (read.hr != S_OK || read.value.vt == VT_NULL) return all;
      const std::vector<uint8_t> piece = ArrayBytes(read.value);
      EXPECT_LE(piece.size(), static_cast<size_t>(chunk));
      all.insert(all.end(), piece.begin(), piece.end());
    }
  }

  testing_support::TempDir dir_;
  ComPtr<IDispatch> db_;
};

TEST_F(DatabaseTest, ExecuteCountsTheRowsItChanged) {
  EXPECT_EQ(Execute(u"UPDATE images SET name = 'x' WHERE id > 1"), 2);
  EXPECT_EQ(Execute(u"DELETE FROM images WHERE id = 1; DELETE FROM images WHERE id = 2"), 2);
  EXPECT_EQ(Execute(u"SELECT * FROM images"), 0);
  EXPECT_EQ(Db().Call(u"Execute", u"INSERT INTO images (name) VALUES ('d')").hr, S_OK);
  EXPECT_EQ(Db().Get(u"LastInsertRowId").Long(), 4);
}

TEST_F(DatabaseTest, AppendedChunksAreStoredByUpdateAndReadInChunks) {
  std::vector<uint8_t> image(2500);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  const ComPtr<IDispatch> field = Field(2);
  ASSERT_TRUE(field);
  Automation f(field.Get());
  for (size_t at = 0; at < image.size(); at += 1000) {
    const size_t size = std::min<size_t>(1000, image.size() - at);
    ASSERT_EQ(f.Call(u"AppendChunk", ByteArray({image.begin() + at, image.begin() + at + size})).hr,
              S_OK);
  }
  // Nothing is stored before Update.
  EXPECT_EQ(f.Get(u"ActualSize").Long(), 0);
  ASSERT_EQ(f.Call(u"Update").hr, S_OK);
  EXPECT_EQ(f.Get(u"ActualSize").Long(), 2500);
  EXPECT_EQ(ReadAll(field.Get(), 1000), image);

  // Another field on the same row, on a new connection, sees the committed value.
  ComPtr<IDispatch> other;
  ASSERT_EQ(CreateComObject<database::Database>(nullptr, IID_IDispatch, other.ReceiveVoid()), S_OK);
  Automation second(other.Get());
  ASSERT_EQ(second.Call(u"Open", Path()).hr, S_OK);
  const CallResult reopened = second.Call(u"Field", u"images", u"data", 2);
  ASSERT_EQ(reopened.value.vt, VT_DISPATCH);
  EXPECT_EQ(ReadAll(reopened.value.pdispVal, 777), image);
  EXPECT_EQ(ReadAll(Field(1).Get(), 1000), std::vector<uint8_t>{});  // other rows untouched

  // A new run of appends replaces the value.
  ASSERT_EQ(f.Call(u"AppendChunk", ByteArray({1, 2, 3})).hr, S_OK);
  ASSERT_EQ(f.Call(u"Update").hr, S_OK);
  EXPECT_EQ(ReadAll(field.Get(), 1000), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(DatabaseTest, NullAndEmptyValuesEndAtOnce) {
  Execute(u"UPDATE images SET data = x'' WHERE id = 3");
  for (LONG rowid : {1, 3}) {
    const ComPtr<IDispatch> field = Field(rowid);
    const CallResult first = Automation(field.Get()).Call(u"GetChunk", 1000);
    EXPECT_EQ(first.hr, S_OK);
    EXPECT_EQ(first.value.vt, VT_NULL);
    EXPECT_EQ(Automation(field.Get()).Get(u"ActualSize").Long(), 0);
  }
}

TEST_F(DatabaseTest, FailuresCarrySqlitesMessage) {
  const CallResult syntax = Db().Call(u"Execute", u"SELEC 1");
  EXPECT_EQ(syntax.Error(), E_FAIL);
  EXPECT_NE(syntax.description.find(u"syntax error"), std::u16string::npos);
  EXPECT_EQ(Db().Call(u"Field", u"nope", u"data", 1).description, u"no such table: nope");
  EXPECT_EQ(Db().Call(u"Field", u"images", u"nope", 1).description, u"no such column: nope");
  EXPECT_EQ(Db().Call(u"Field", u"images", u"data", 9).description,
            u"no row with rowid 9 in table images");

  const ComPtr<IDispatch> first = Field(1);
  Automation field(first.Get());
  EXPECT_EQ(field.Call(u"AppendChunk", u"text").Error(), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(field.Call(u"GetChunk", 0).Error(), E_INVALIDARG);
  // The row goes before the appended bytes are stored: nothing is written.
  ASSERT_EQ(field.Call(u"AppendChunk", ByteArray({9})).hr, S_OK);
  Execute(u"DELETE FROM images WHERE id = 1");
  EXPECT_EQ(field.Call(u"Update").description, u"no row with rowid 1 in table images");
  EXPECT_EQ(Execute(u"SELECT 1"), 0);  // no transaction was left open
  EXPECT_EQ(Db().Call(u"Execute", u"BEGIN; COMMIT").hr, S_OK);
}

// Pipes and devices are not opened as databases: SQLite would wait on a pipe forever.
TEST_F(DatabaseTest, OnlyRegularFilesAreOpenedOrAttached) {
  const std::string pipe = dir_.File("pipe");
  ASSERT_TRUE(testing_support::MakeFifo(pipe));
  const std::u16string pipeName(pipe.begin(), pipe.end());
  const CallResult opened = Db().Call(u"Open", pipeName.c_str());
  EXPECT_EQ(opened.Error(), E_FAIL);
  EXPECT_EQ(opened.description, pipeName + u" is not a regular file");
  EXPECT_EQ(Db().Call(u"Open", Path()).hr, S_OK);
  EXPECT_EQ(Db().Call(u"Execute", u"ATTACH '" + pipeName + u"' AS p").description,
            u"not authorized");
  EXPECT_EQ(Db().Call(u"Execute", u"ATTACH '/dev/zero' AS z").description, u"not authorized");
  EXPECT_EQ(Execute(u"ATTACH ':memory:' AS m; DETACH m"), 0);
}

// With the files restricted to some folders, the database file, attached files and the
// target of VACUUM INTO must lie inside them.
TEST_F(DatabaseTest, FilesOutsideTheAllowedFoldersAreRefused) {
  const testing_support::TempDir outside;
  const testing_support::AllowedFoldersScope scope({dir_.Path().string()});
  const std::string elsewhere = outside.File("x.db");
  const std::u16string name(elsewhere.begin(), elsewhere.end());
  const CallResult opened = Db().Call(u"Open", name.c_str());
  EXPECT_EQ(opened.Error(), E_FAIL);
  EXPECT_EQ(opened.description, name + u" is outside the folders this server may open files in");
  EXPECT_EQ(Db().Call(u"Open", Path()).hr, S_OK);
  for (const std::u16string& sql :
       {u"ATTACH '" + name + u"' AS x", u"VACUUM INTO '" + name + u"'",
        u"ATTACH 'file:" + name + u"' AS x", std::u16string(u"ATTACH '/tmp/' || 'y.db' AS y")}) {
    const std::u16string refusal = Db().Call(u"Execute", sql.c_str()).description;
    EXPECT_TRUE(refusal == u"not authorized" || refusal == u"authorization denied")
        << std::string(sql.begin(), sql.end());
  }
  EXPECT_FALSE(std::filesystem::exists(elsewhere));
  const std::string copy = dir_.File("copy.db");
  EXPECT_EQ(Db().Call(u"Execute",
                      (u"VACUUM INTO '" + std::u16string(copy.begin(), copy.end()) + u"'").c_str())
                .hr,
            S_OK);
  EXPECT_TRUE(std::filesystem::exists(copy));
}

TEST_F(DatabaseTest, ClosingEndsTheFieldsToo) {
  const ComPtr<IDispatch> field = Field(2);
  ASSERT_EQ(Db().Call(u"Close").hr, S_OK);
  EXPECT_EQ(Automation(field.Get()).Call(u"GetChunk", 10).description, u"the database is closed");
  EXPECT_EQ(Db().Call(u"Execute", u"SELECT 1").description, u"the database is not open");
  // Open again, on another file: Open creates it.
  const std::string other = dir_.File("other.db");
  EXPECT_EQ(Db().Call(u"Open", std::u16string(other.begin(), other.end())).hr, S_OK);
  EXPECT_EQ(Execute(u"CREATE TABLE t (x)"), 0);
}

TEST_F(DatabaseTest, NamesAreQuotedNotSpliced) {
  EXPECT_EQ(Execute(u"CREATE TABLE \"we\"\"ird\" (\"da ta\" BLOB)"), 0);
  EXPECT_EQ(Execute(u"INSERT INTO \"we\"\"ird\" VALUES (x'0102')"), 1);
  const CallResult field = Db().Call(u"Field", u"we\"ird", u"da ta", 1);
  ASSERT_EQ(field.value.vt, VT_DISPATCH);
  EXPECT_EQ(ReadAll(field.value.pdispVal, 5), (std::vector<uint8_t>{1, 2}));
  EXPECT_NE(Db().Call(u"Field", u"images; DROP TABLE images", u"data", 1).hr, S_OK);
  EXPECT_EQ(Execute(u"UPDATE images SET name = name"), 3);  // still there
}

// The contract's calls as both servers make them: early-bound through IField, and by
// name with a length passed by reference.
TEST_F(DatabaseTest, TheFieldContractReachesTheFieldEitherWay) {
  const ComPtr<IDispatch> field = Field(3);
  ComPtr<field_contract::IField> early;
  ASSERT_EQ(field->QueryInterface(field_contract::IID_IField, early.ReceiveVoid()), S_OK);
  Variant bytes = ByteArray({5, 6, 7, 8});
  EXPECT_EQ(field_contract::AppendChunk(field.Get(), bytes, 0x800), S_OK);
  VARIANT reference;
  reference.vt = VT_BYREF | VT_VARIANT;
  reference.pvarVal = &bytes;
  EXPECT_EQ(field_contract::InvokeByName(field.Get(), field_contract::kAppendChunk, DISPATCH_METHOD,
                                         {&reference, 1}, 0, nullptr),
            S_OK);
  ASSERT_EQ(Automation(field.Get()).Call(u"Update").hr, S_OK);

  LONG size = 0;
  EXPECT_EQ(field_contract::ActualSize(field.Get(), 0, &size), S_OK);
  EXPECT_EQ(size, 8);
  VARIANT length;
  length.vt = VT_BYREF | VT_I4;
  length.plVal = &size;
  Variant chunk;
  EXPECT_EQ(field_contract::InvokeByName(field.Get(), field_contract::kGetChunk, DISPATCH_METHOD,
                                         {&length, 1}, 0, &chunk),
            S_OK);
  EXPECT_EQ(ArrayBytes(chunk), (std::vector<uint8_t>{5, 6, 7, 8, 5, 6, 7, 8}));
  EXPECT_EQ(field_contract::GetChunk(field.Get(), 10, 0x800, &chunk), S_OK);
  EXPECT_EQ(chunk.vt, VT_NULL);

  DISPID id = 0;
  EXPECT_EQ(field_contract::FindMember(db_.Get(), field_contract::kGetChunk, 0, &id),
            DISP_E_UNKNOWNNAME);
  // A failing call by name installs the field's error information.
  EXPECT_EQ(field_contract::InvokeByName(field.Get(), field_contract::kGetChunk, DISPATCH_METHOD,
                                         {}, 0, &chunk),
            DISP_E_BADPARAMCOUNT);
}

}  // namespace
