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

#include "database/interfaces.h"
#include "database/object_support.h"
#include "database/sqlite_store.h"
#include "database/type_library.h"
#include "platform/automation/dispatch.h"
#include "platform/com/object.h"

namespace database {

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
