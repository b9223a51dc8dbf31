// Images saved into and loaded from real SQLite fields of the database module.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <random>

#include "platform/com/activation.h"
#include "tests/support/temp_dir.h"
#include "tests/vellum/image_io_support.h"

namespace {

using testing_support::Automation;
using vellum_testing::EaselSession;

// The database module, loaded as a script host would and left loaded.
ComPtr<IDispatch> CreateDatabase() {
  static void* module = dlopen(DATABASE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
      module != nullptr ? dlsym(module, "DllGetClassObject") : nullptr);
  // {80037AEF-16B9-42D5-81D7-25E1C499FF5C}
  constexpr CLSID kDatabase = {
      0x80037AEF, 0x16B9, 0x42D5, {0x81, 0xD7, 0x25, 0xE1, 0xC4, 0x99, 0xFF, 0x5C}};
  return getClassObject != nullptr ? testing_support::CreateFromModule(getClassObject, kDatabase)
                                   : nullptr;
}

TEST(DatabaseFieldTest, EveryFormatRoundTripsThroughAField) {
  testing_support::TempDir dir;
  const ComPtr<IDispatch> database = CreateDatabase();
  ASSERT_TRUE(database);
  Automation db(database.Get());
  const std::string path = dir.File("images.db");
  ASSERT_EQ(db.Call(u"Open", std::u16string(path.begin(), path.end())).hr, S_OK);
  ASSERT_EQ(db.Call(u"Execute", u"CREATE TABLE images (id INTEGER PRIMARY KEY, data BLOB)").hr,
            S_OK);

  std::mt19937 rng(17);
  const testing_support::TestImage photo = testing_support::RandomImage(rng, 30, 20, 3, 6);
  EaselSession writer;
  writer.Install(photo);
  for (int format : {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12}) {
    ASSERT_EQ(db.Call(u"Execute", u"INSERT INTO images (data) VALUES (NULL)").hr, S_OK);
    const int rowid = db.Get(u"LastInsertRowId").Long();
    testing_support::CallResult field = db.Call(u"Field", u"images", u"data", rowid);
    ASSERT_EQ(field.value.vt, VT_DISPATCH);
    ASSERT_EQ(writer.Save(4, format, vellum_testing::Dispatch(field.value.pdispVal)).hr, S_OK)
        << format;
    ASSERT_EQ(Automation(field.value.pdispVal).Call(u"Update").hr, S_OK);
    EXPECT_EQ(Automation(field.value.pdispVal).Get(u"ActualSize").Long(),
              static_cast<LONG>(writer.SaveToMemory(format).size()))
        << format;

    // A fresh field of the row reads what was committed.
    field = db.Call(u"Field", u"images", u"data", rowid);
    EaselSession reader;
    ASSERT_EQ(reader.Load(vellum_testing::Dispatch(field.value.pdispVal)).hr, S_OK) << format;
    EXPECT_EQ(reader.Get(u"Width"), 30);
    EXPECT_EQ(reader.Get(u"Height"), 20);
    EXPECT_EQ(reader.Get(u"ImageFormat"), format == 9 ? 10 : format);
    if (format != 3 && format != 11 && format != 12) {  // JPEG, WebP and AVIF are lossy here
      EXPECT_EQ(reader.Pixels(), photo.bytes) << format;
    }
  }
}

}  // namespace
