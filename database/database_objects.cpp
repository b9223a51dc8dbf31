#include "database/database_objects.h"

#include <climits>
#include <cstring>

#include "database/object_support.h"
#include "platform/com/error_info.h"
#include "platform/com/safe_array.h"

namespace database {

namespace {

// An automation error carrying a message, with the class as its source.
HRESULT Report(const std::string& message, HRESULT result = E_FAIL) {
  return Fail(CLSID_Database, message, result);
}

std::optional<std::string> Text(BSTR text) { return BstrToUtf8(text); }

}  // namespace

// ---- Database ----

HRESULT Database::Open(BSTR path) {
  return Guarded([&] {
    const std::optional<std::string> name = Text(path);
    if (!name || name->empty())
      return Report("the database path is empty or not valid text", E_INVALIDARG);
    if (connection_) connection_->Close();
    StoreError error;
    connection_ = Connection::Open(*name, &error);
    return connection_ ? S_OK : Report(error.message);
  });
}

HRESULT Database::Execute(BSTR sql, LONG* changed) {
  if (changed == nullptr) return E_POINTER;
  return Guarded([&] {
    const std::optional<std::string> statements = Text(sql);
    if (!statements) return Report("the statement is not valid text", E_INVALIDARG);
    if (!connection_) return Report("the database is not open");
    StoreError error;
    const std::optional<int64_t> count = connection_->Execute(*statements, &error);
    if (!count) return Report(error.message);
    *changed = static_cast<LONG>(std::min<int64_t>(*count, LONG_MAX));
    return S_OK;
  });
}

HRESULT Database::Field(BSTR table, BSTR column, LONG rowid, IDispatch** field) {
  if (field == nullptr) return E_POINTER;
  *field = nullptr;
  return Guarded([&] {
    const std::optional<std::string> tableName = Text(table);
    const std::optional<std::string> columnName = Text(column);
    if (!tableName || !columnName)
      return Report("the table or column name is not valid text", E_INVALIDARG);
    if (!connection_) return Report("the database is not open");
    // The row is read once here, so that a missing table, column or row fails now.
    std::optional<std::vector<uint8_t>> value;
    StoreError error;
    if (!connection_->ReadValue(*tableName, *columnName, rowid, &value, &error)) {
      return Report(error.message);
    }
    ComPtr<IDatabaseField> created;
    HRESULT hr = CreateComObject<DatabaseField>(nullptr, IID_IDatabaseField, created.ReceiveVoid());
    if (FAILED(hr)) return hr;
    static_cast<DatabaseField*>(created.Get())->Bind(connection_, *tableName, *columnName, rowid);
    *field = created.Detach();
    return S_OK;
  });
}

HRESULT Database::Close() {
  if (connection_) connection_->Close();
  connection_.reset();
  return S_OK;
}

HRESULT Database::get_LastInsertRowId(LONG* rowid) {
  if (rowid == nullptr) return E_POINTER;
  const int64_t last = connection_ ? connection_->LastInsertRowId() : 0;
  if (last > LONG_MAX || last < LONG_MIN)
    return Report("the rowid does not fit a long", DISP_E_OVERFLOW);
  *rowid = static_cast<LONG>(last);
  return S_OK;
}

// ---- DatabaseField ----

void DatabaseField::Bind(std::shared_ptr<Connection> connection, std::string table,
                         std::string column, int64_t rowid) {
  connection_ = std::move(connection);
  table_ = std::move(table);
  column_ = std::move(column);
  rowid_ = rowid;
}

HRESULT DatabaseField::LoadValue() {
  if (loaded_) return S_OK;
  StoreError error;
  if (!connection_->ReadValue(table_, column_, rowid_, &value_, &error))
    return Report(error.message);
  loaded_ = true;
  readOffset_ = 0;
  return S_OK;
}

HRESULT DatabaseField::get_ActualSize(LONG* size) {
  if (size == nullptr) return E_POINTER;
  return Guarded([&] {
    const HRESULT hr = LoadValue();
    if (FAILED(hr)) return hr;
    const size_t bytes = value_ ? value_->size() : 0;
    if (bytes > LONG_MAX)
      return Report("the value is larger than a long can count", DISP_E_OVERFLOW);
    *size = static_cast<LONG>(bytes);
    return S_OK;
  });
}

HRESULT DatabaseField::GetChunk(LONG length, VARIANT* chunk) {
  if (chunk == nullptr) return E_POINTER;
  if (length <= 0) return Report("the chunk length must be positive", E_INVALIDARG);
  return Guarded([&] {
    const HRESULT hr = LoadValue();
    if (FAILED(hr)) return hr;
    VariantClear(chunk);
    const size_t stored = value_ ? value_->size() : 0;
    if (readOffset_ >= stored) {
      chunk->vt = VT_NULL;
      return S_OK;
    }
    const auto count = static_cast<ULONG>(std::min<size_t>(stored - readOffset_, length));
    SAFEARRAY* bytes = MakeByteVector(value_->data() + readOffset_, count);
    if (bytes == nullptr) return E_OUTOFMEMORY;
    readOffset_ += count;
    chunk->vt = VT_ARRAY | VT_UI1;
    chunk->parray = bytes;
    return S_OK;
  });
}

HRESULT DatabaseField::AppendChunk(VARIANT data) {
  SAFEARRAY* bytes = ByteArrayOf(data);
  if (bytes == nullptr) return Report("AppendChunk takes a byte array", DISP_E_TYPEMISMATCH);
  return Guarded([&] {
    if (!appended_) appended_.emplace();
    const auto* first = static_cast<const uint8_t*>(bytes->pvData);
    appended_->insert(appended_->end(), first, first + SafeArrayElementCount(bytes));
    return S_OK;
  });
}

HRESULT DatabaseField::Update() {
  if (!appended_) return S_OK;
  return Guarded([&] {
    StoreError error;
    if (!connection_->WriteValue(table_, column_, rowid_, *appended_, &error)) {
      return Report(error.message);
    }
    appended_.reset();
    loaded_ = false;  // the next read sees the new value from its start
    value_.reset();
    return S_OK;
  });
}

}  // namespace database
