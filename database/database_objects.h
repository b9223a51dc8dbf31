// "Vellum.Database": a script's handle on an SQLite file, and the field objects it
// hands out, each bound to one BLOB column of one row and following the database
// field contract of both servers (GetChunk, AppendChunk, ActualSize), plus Update.
//
//   db = CreateObject("Vellum.Database")
//   db.Open(path)                      creates the file when missing
//   n = db.Execute(sql)                rows the statements changed
//   f = db.Field(table, column, rowid) the field; the row must exist
//   f.Update()                         stores what was appended, in one transaction
//   db.Close()                         its fields fail from then on
//
// Failures are automation errors (E_FAIL) whose description is SQLite's message.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/field_contract.h"
#include "database/module_lock.h"
#include "database/sqlite_store.h"
#include "platform/automation/dispatch.h"
#include "platform/com/object.h"

namespace database {

// {C7699345-A7DD-436E-96BA-2C209056AF6A}
constexpr GUID LIBID_VellumDatabaseLib = {
    0xC7699345, 0xA7DD, 0x436E, {0x96, 0xBA, 0x2C, 0x20, 0x90, 0x56, 0xAF, 0x6A}};
// {4BCC992C-09A7-40CC-BA78-9F884237633C}
constexpr IID IID_IDatabase = {
    0x4BCC992C, 0x09A7, 0x40CC, {0xBA, 0x78, 0x9F, 0x88, 0x42, 0x37, 0x63, 0x3C}};
// {8FD4BA42-A6A3-42B2-91C2-A917E1B5B085}
constexpr IID IID_IDatabaseField = {
    0x8FD4BA42, 0xA6A3, 0x42B2, {0x91, 0xC2, 0xA9, 0x17, 0xE1, 0xB5, 0xB0, 0x85}};
// {80037AEF-16B9-42D5-81D7-25E1C499FF5C}
constexpr CLSID CLSID_Database = {
    0x80037AEF, 0x16B9, 0x42D5, {0x81, 0xD7, 0x25, 0xE1, 0xC4, 0x99, 0xFF, 0x5C}};

class IDatabase : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IDatabase;
  virtual HRESULT Open(BSTR path) = 0;
  virtual HRESULT Execute(BSTR sql, LONG* changed) = 0;
  virtual HRESULT Field(BSTR table, BSTR column, LONG rowid, IDispatch** field) = 0;
  virtual HRESULT Close() = 0;
  virtual HRESULT get_LastInsertRowId(LONG* rowid) = 0;

 protected:
  ~IDatabase() = default;
};

class IDatabaseField : public field_contract::IField {
 public:
  using Base = field_contract::IField;
  static constexpr const IID& kIid = IID_IDatabaseField;
  virtual HRESULT Update() = 0;

 protected:
  ~IDatabaseField() = default;
};

const automation::BoundInterface& DatabaseInterface();
const automation::BoundInterface& FieldInterface();
std::shared_ptr<const automation::TypeLibraryDesc> DatabaseLibrary();

class Database final : public ComObject<DispatchImpl<IDatabase, &DatabaseInterface>,
                                        SupportErrorInfoFor<IDatabase>> {
 public:
  explicit Database(IUnknown* outer) : ComObject(outer), lock_(ModuleLocks()) {}

  HRESULT Open(BSTR path) override;
  HRESULT Execute(BSTR sql, LONG* changed) override;
  HRESULT Field(BSTR table, BSTR column, LONG rowid, IDispatch** field) override;
  HRESULT Close() override;
  HRESULT get_LastInsertRowId(LONG* rowid) override;

 private:
  ModuleLockHolder lock_;
  std::shared_ptr<Connection> connection_;
};

// One column of one row. The value is read once, on the first GetChunk or ActualSize
// after creation or Update, and handed out from there; appended bytes are held until
// Update stores them.
class DatabaseField final : public ComObject<DispatchImpl<IDatabaseField, &FieldInterface>,
                                             SupportErrorInfoFor<IDatabaseField>> {
 public:
  explicit DatabaseField(IUnknown* outer) : ComObject(outer), lock_(ModuleLocks()) {}
  void Bind(std::shared_ptr<Connection> connection, std::string table, std::string column,
            int64_t rowid);

  HRESULT get_ActualSize(LONG* size) override;
  HRESULT AppendChunk(VARIANT data) override;
  HRESULT GetChunk(LONG length, VARIANT* chunk) override;
  HRESULT Update() override;

 private:
  HRESULT LoadValue();

  ModuleLockHolder lock_;
  std::shared_ptr<Connection> connection_;
  std::string table_;
  std::string column_;
  int64_t rowid_ = 0;
  bool loaded_ = false;
  std::optional<std::vector<uint8_t>> value_;  // nothing for NULL
  size_t readOffset_ = 0;
  std::optional<std::vector<uint8_t>> appended_;  // nothing until the first AppendChunk
};

}  // namespace database
