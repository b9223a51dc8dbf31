// The interfaces and identifiers of the database module's objects.
//
//   Vellum.Database     one SQLite file, fields addressed by table, column and rowid
//   Vellum.Connection   a connection to SQLite or PostgreSQL: Execute with bound values,
//                       transactions
//   Vellum.Recordset    rows of a query, moved over and (for one table) edited; its
//                       Fields hold the Field objects the image servers read and write
#pragma once

#include "common/field_contract.h"
#include "platform/com/interfaces.h"

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
// {B815EAF1-3267-4BFA-A1A7-4A511E02291F}
constexpr IID IID_IConnection = {
    0xB815EAF1, 0x3267, 0x4BFA, {0xA1, 0xA7, 0x4A, 0x51, 0x1E, 0x02, 0x29, 0x1F}};
// {D104D760-B419-4920-B85F-72F54A0409BD}
constexpr IID IID_IRecordset = {
    0xD104D760, 0xB419, 0x4920, {0xB8, 0x5F, 0x72, 0xF5, 0x4A, 0x04, 0x09, 0xBD}};
// {78418FA3-1A9E-41AA-9C77-D71D08333ECF}
constexpr IID IID_IFields = {
    0x78418FA3, 0x1A9E, 0x41AA, {0x9C, 0x77, 0xD7, 0x1D, 0x08, 0x33, 0x3E, 0xCF}};
// {43EAF383-9DAF-4E2E-AC0D-F29A6B16227E}
constexpr IID IID_IRecordsetField = {
    0x43EAF383, 0x9DAF, 0x4E2E, {0xAC, 0x0D, 0xF2, 0x9A, 0x6B, 0x16, 0x22, 0x7E}};
// {52CBE14D-2881-4CAB-B7C3-637FAAF5F72D}
constexpr CLSID CLSID_Connection = {
    0x52CBE14D, 0x2881, 0x4CAB, {0xB7, 0xC3, 0x63, 0x7F, 0xAA, 0xF5, 0xF7, 0x2D}};
// {D4470607-1832-4D74-9427-6022B90BACE9}
constexpr CLSID CLSID_Recordset = {
    0xD4470607, 0x1832, 0x4D74, {0x94, 0x27, 0x60, 0x22, 0xB9, 0x0B, 0xAC, 0xE9}};

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

// Values of the enumerations scripts pass and read.
enum ObjectState : LONG { kStateClosed = 0, kStateOpen = 1 };
enum LockType : LONG {
  kLockUnspecified = -1,
  kLockReadOnly = 1,
  kLockPessimistic = 2,
  kLockOptimistic = 3,
  kLockBatchOptimistic = 4,
};
enum CommandType : LONG {
  kCommandUnspecified = -1,
  kCommandText = 1,
  kCommandTable = 2,
  kCommandUnknown = 8,
};

class IConnection : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IConnection;
  virtual HRESULT get_ConnectionString(BSTR* text) = 0;
  virtual HRESULT put_ConnectionString(BSTR text) = 0;
  virtual HRESULT Open(VARIANT connectionString, VARIANT user, VARIANT password) = 0;
  virtual HRESULT Close() = 0;
  virtual HRESULT Execute(BSTR sql, VARIANT parameters, VARIANT* result) = 0;
  virtual HRESULT BeginTrans(LONG* level) = 0;
  virtual HRESULT CommitTrans() = 0;
  virtual HRESULT RollbackTrans() = 0;
  virtual HRESULT get_State(LONG* state) = 0;
  virtual HRESULT get_Provider(BSTR* name) = 0;

 protected:
  ~IConnection() = default;
};

class IRecordset : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IRecordset;
  virtual HRESULT get_Fields(IDispatch** fields) = 0;
  virtual HRESULT Open(BSTR source, VARIANT activeConnection, LONG cursorType, LONG lockType,
                       LONG options, VARIANT parameters) = 0;
  virtual HRESULT Close() = 0;
  virtual HRESULT get_EOF(VARIANT_BOOL* atEnd) = 0;
  virtual HRESULT get_BOF(VARIANT_BOOL* atStart) = 0;
  virtual HRESULT MoveNext() = 0;
  virtual HRESULT MovePrevious() = 0;
  virtual HRESULT MoveFirst() = 0;
  virtual HRESULT MoveLast() = 0;
  virtual HRESULT get_RecordCount(LONG* count) = 0;
  virtual HRESULT AddNew() = 0;
  virtual HRESULT Update() = 0;
  virtual HRESULT CancelUpdate() = 0;
  virtual HRESULT Delete() = 0;
  virtual HRESULT get_State(LONG* state) = 0;
  virtual HRESULT get_EditMode(LONG* mode) = 0;

 protected:
  ~IRecordset() = default;
};

class IFields : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IFields;
  virtual HRESULT get_Item(VARIANT index, IDispatch** field) = 0;
  virtual HRESULT get_Count(LONG* count) = 0;
  virtual HRESULT get__NewEnum(IUnknown** enumerator) = 0;

 protected:
  ~IFields() = default;
};

class IRecordsetField : public field_contract::IField {
 public:
  using Base = field_contract::IField;
  static constexpr const IID& kIid = IID_IRecordsetField;
  virtual HRESULT get_Name(BSTR* name) = 0;
  virtual HRESULT get_Type(LONG* type) = 0;
  virtual HRESULT get_DefinedSize(LONG* size) = 0;
  virtual HRESULT get_Value(VARIANT* value) = 0;
  virtual HRESULT put_Value(VARIANT value) = 0;

 protected:
  ~IRecordsetField() = default;
};

}  // namespace database
