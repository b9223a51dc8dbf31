// "Vellum.Recordset", its Fields collection and the Field objects in it.
//
//   rs = CreateObject("Vellum.Recordset")
//   rs.Open("SELECT id, photo FROM photos WHERE id = ?", conn, adOpenKeyset,
//           adLockOptimistic, adCmdText, [id])           updatable: one table, its key
//   rs.Open("photos", conn, 1, 3, adCmdTable)            every row of a table
//   while (!rs.EOF) { ... rs("photo") ... rs.MoveNext(); }
//   easel.LoadImage(rs("photo")); easel.SaveImage(4, 4, rs("photo")); rs.Update();
//   rs.AddNew(); rs("name").Value = "x"; rs("photo").AppendChunk(bytes); rs.Update();
//
// The rows are held in memory (RecordCount is known). A field is a view of one column
// of the current row: Value reads and writes it, GetChunk reads it in pieces from
// where the last piece ended, AppendChunk appends to what the edit has appended since
// another field was last used (the first append of such a run replaces the value).
// A read starts over from the value's start after GetChunk reported the end (Null),
// after ActualSize, after a move and after another field was used; so the image
// generator (which reads to the end) and the collection server (which asks for the
// size, then reads that much) can each read a field, one after the other. Values set
// are written by Update, or before a move; CancelUpdate drops them.
#pragma once

#include <memory>

#include "database/connection_object.h"
#include "database/record_cursor.h"

namespace database {

// A read-only (or, with `updatable`, updatable) recordset over rows the connection
// produced; the connection object is kept alive while the recordset is.
HRESULT CreateRecordset(ComPtr<IConnection> connection, std::shared_ptr<SessionLink> link,
                        std::shared_ptr<const ResultSet> rows, bool updatable,
                        IDispatch** recordset);

// What a recordset, its fields and their enumerators share while it is open.
class OpenRows;

class RecordsetObject final : public ComObject<DispatchImpl<IRecordset, &RecordsetInterface>,
                                               SupportErrorInfoFor<IRecordset>> {
 public:
  explicit RecordsetObject(IUnknown* outer) : ComObject(outer), lock_(ModuleLocks()) {}

  void Attach(std::shared_ptr<OpenRows> rows);

  // rs("name") and rs(0): the default member with an index is the field.
  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

  HRESULT get_Fields(IDispatch** fields) override;
  HRESULT Open(BSTR source, VARIANT activeConnection, LONG cursorType, LONG lockType, LONG options,
               VARIANT parameters) override;
  HRESULT Close() override;
  HRESULT get_EOF(VARIANT_BOOL* atEnd) override;
  HRESULT get_BOF(VARIANT_BOOL* atStart) override;
  HRESULT MoveNext() override;
  HRESULT MovePrevious() override;
  HRESULT MoveFirst() override;
  HRESULT MoveLast() override;
  HRESULT get_RecordCount(LONG* count) override;
  HRESULT AddNew() override;
  HRESULT Update() override;
  HRESULT CancelUpdate() override;
  HRESULT Delete() override;
  HRESULT get_State(LONG* state) override;
  HRESULT get_EditMode(LONG* mode) override;

 private:
  std::shared_ptr<OpenRows> Rows();

  ModuleLockHolder lock_;
  std::mutex mutex_;  // guards rows_
  std::shared_ptr<OpenRows> rows_;
};

}  // namespace database
