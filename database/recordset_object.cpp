#include "database/recordset_object.h"

#include <climits>

#include "database/variant_values.h"
#include "platform/com/bstr.h"
#include "platform/com/safe_array.h"
#include "platform/kernel/code_page.h"

namespace database {

namespace {

constexpr char kNoCurrent[] =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
    "requires a current record.";
constexpr char kReadOnly[] =
    "Current Recordset does not support updating. This may be a limitation of the provider, or "
    "of the selected locktype.";
constexpr char kNotFound[] =
    "Item cannot be found in the collection corresponding to the requested name or ordinal.";

HRESULT Report(const std::string& message, HRESULT result = E_FAIL) {
  return Fail(CLSID_Recordset, message, result);
}

bool IsLockForWriting(LONG lockType) {
  return lockType == kLockPessimistic || lockType == kLockOptimistic ||
         lockType == kLockBatchOptimistic;
}

bool NamesMatch(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

// The rows of an open recordset with the state its fields share: which field was used
// last, how far GetChunk has read it and whether AppendChunk is appending to it.
class OpenRows {
 public:
  OpenRows(ComPtr<IConnection> connection, std::shared_ptr<SessionLink> link,
           std::shared_ptr<const ResultSet> rows, bool updatable)
      : connection_(std::move(connection)),
        link_(std::move(link)),
        cursor_(std::make_unique<RecordCursor>(std::move(rows))),
        updatable_(updatable) {}

  HRESULT Close() {
    std::lock_guard hold(mutex_);
    if (!cursor_) return S_OK;
    if (cursor_->EditMode() != RecordCursor::Mode::kNone) {
      return Report("an edit is in progress: call Update or CancelUpdate before Close");
    }
    cursor_.reset();
    connection_.Reset();
    return S_OK;
  }

  HRESULT AtEnd(VARIANT_BOOL* atEnd, bool start) {
    std::lock_guard hold(mutex_);
    if (!cursor_) return Report(kClosedText);
    *atEnd = (start ? cursor_->Bof() : cursor_->Eof()) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  enum class Move { kFirst, kLast, kNext, kPrevious };
  // A move writes the edit in progress first (and does not move when that fails).
  HRESULT MoveTo(Move move) {
    std::lock_guard hold(mutex_);
    if (!cursor_) return Report(kClosedText);
    const HRESULT written = WriteBack();
    if (FAILED(written)) return written;
    ForgetField();
    switch (move) {
      case Move::kFirst:
        cursor_->MoveFirst();
        return S_OK;
      case Move::kLast:
        cursor_->MoveLast();
        return S_OK;
      case Move::kNext:
        return cursor_->MoveNext() ? S_OK : Report(kNoCurrent);
      case Move::kPrevious:
        return cursor_->MovePrevious() ? S_OK : Report(kNoCurrent);
    }
    return E_UNEXPECTED;
  }

  HRESULT RecordCount(LONG* count) {
    std::lock_guard hold(mutex_);
    if (!cursor_) return Report(kClosedText);
    *count = static_cast<LONG>(std::min<size_t>(cursor_->RecordCount(), LONG_MAX));
    return S_OK;
  }

  HRESULT EditMode(LONG* mode) {
    std::lock_guard hold(mutex_);
    if (!cursor_) return Report(kClosedText);
    *mode = static_cast<LONG>(cursor_->EditMode());
    return S_OK;
  }

  HRESULT AddNew() {
    std::lock_guard hold(mutex_);
    HRESULT hr = RequireUpdatable();
    if (SUCCEEDED(hr)) hr = WriteBack();
    if (FAILED(hr)) return hr;
    ForgetField();
    cursor_->AddNew();
    return S_OK;
  }

  HRESULT Update() {
    std::lock_guard hold(mutex_);
    const HRESULT hr = RequireUpdatable();
    if (FAILED(hr)) return hr;
    ForgetField();
    return WriteBack();
  }

  HRESULT CancelUpdate() {
    std::lock_guard hold(mutex_);
    if (!cursor_) return Report(kClosedText);
    ForgetField();
    cursor_->CancelUpdate();
    return S_OK;
  }

  HRESULT Delete() {
    std::lock_guard hold(mutex_);
    const HRESULT hr = RequireUpdatable();
    if (FAILED(hr)) return hr;
    ForgetField();
    // A row being added is only dropped; an edit of the current row goes with the row.
    const bool adding = cursor_->EditMode() == RecordCursor::Mode::kAdding;
    cursor_->CancelUpdate();
    if (adding) return S_OK;
    if (!cursor_->HasCurrent()) return Report(kNoCurrent);
    return OnSession(CLSID_Recordset, link_, [this](Session& session, std::string* error) {
      return cursor_->Delete(session, error);
    });
  }

  // ---- fields ----

  HRESULT Count(LONG* count) {
    std::lock_guard hold(mutex_);
    if (!cursor_) return Report(kClosedText);
    *count = static_cast<LONG>(cursor_->Columns().size());
    return S_OK;
  }

  // The column an index names: a position from 0, or a name (ASCII case ignored).
  HRESULT FindColumn(const VARIANT& index, size_t* column) {
    std::lock_guard hold(mutex_);
    if (!cursor_) return Report(kClosedText);
    const std::vector<ColumnInfo>& columns = cursor_->Columns();
    Variant converted;
    const VARTYPE type = index.vt == (VT_BYREF | VT_VARIANT) ? index.pvarVal->vt : index.vt;
    if ((type & ~VT_BYREF) == VT_BSTR) {
      if (SUCCEEDED(VariantChangeType(&converted, &index, 0, VT_BSTR))) {
        const std::optional<std::string> name = BstrToUtf8(converted.bstrVal);
        for (size_t i = 0; name && i < columns.size(); ++i) {
          if (NamesMatch(columns[i].name, *name)) {
            *column = i;
            return S_OK;
          }
        }
      }
    } else if (SUCCEEDED(VariantChangeType(&converted, &index, 0, VT_I4)) && converted.lVal >= 0 &&
               static_cast<size_t>(converted.lVal) < columns.size()) {
      *column = static_cast<size_t>(converted.lVal);
      return S_OK;
    }
    return Report(kNotFound, E_INVALIDARG);
  }

  HRESULT Describe(size_t column, BSTR* name, LONG* type, LONG* size) {
    std::lock_guard hold(mutex_);
    if (!cursor_) return Report(kClosedText);
    const ColumnInfo& info = cursor_->Columns()[column];
    if (name != nullptr) {
      *name = AllocBstrFromEngineText(info.name);
      if (*name == nullptr) return E_OUTOFMEMORY;
    }
    if (type != nullptr) *type = info.type;
    if (size != nullptr) *size = info.definedSize;
    return S_OK;
  }

  HRESULT GetValue(size_t column, VARIANT* value) {
    std::lock_guard hold(mutex_);
    const HRESULT hr = RequireCurrent();
    if (FAILED(hr)) return hr;
    Touch(column);
    return VariantOfValue(cursor_->Cell(column), cursor_->Columns()[column].type, value);
  }

  HRESULT SetValue(size_t column, const VARIANT& value) {
    std::lock_guard hold(mutex_);
    HRESULT hr = RequireWritable(column);
    if (FAILED(hr)) return hr;
    Value converted;
    std::string problem;
    hr = ValueForColumn(value, cursor_->Columns()[column].kind, &converted, &problem);
    if (FAILED(hr)) return Report(cursor_->Columns()[column].name + ": " + problem, hr);
    Touch(column);
    cursor_->SetValue(column, std::move(converted));
    appending_ = false;
    ForgetChunk();
    return S_OK;
  }

  // Bytes of binary values; characters (UTF-16 units) of texts; 8 for numbers. Asking
  // for the size starts a read of the value: the next GetChunk reads from its start.
  HRESULT ActualSize(size_t column, LONG* size) {
    std::lock_guard hold(mutex_);
    const HRESULT hr = RequireCurrent();
    if (FAILED(hr)) return hr;
    Touch(column);
    chunkOffset_ = 0;
    const ValueView cell = cursor_->Cell(column);
    size_t count = 0;
    switch (cell.kind) {
      case ValueKind::kNull:
        break;
      case ValueKind::kBytes:
        count = cell.bytes.size();
        break;
      case ValueKind::kText:
        count = Text(cell).size();
        break;
      case ValueKind::kBoolean:
        count = 2;
        break;
      default:
        count = 8;
    }
    if (count > LONG_MAX)
      return Report("the value is larger than a long can count", DISP_E_OVERFLOW);
    *size = static_cast<LONG>(count);
    return S_OK;
  }

  HRESULT GetChunk(size_t column, LONG length, VARIANT* chunk) {
    if (length <= 0) return Report("the chunk length must be positive", E_INVALIDARG);
    std::lock_guard hold(mutex_);
    const HRESULT hr = RequireCurrent();
    if (FAILED(hr)) return hr;
    Touch(column);
    const ValueView cell = cursor_->Cell(column);
    if (cell.kind != ValueKind::kNull && cell.kind != ValueKind::kBytes &&
        cell.kind != ValueKind::kText) {
      return Report("GetChunk reads text and binary fields; read the others by Value");
    }
    const size_t total = cell.kind == ValueKind::kText    ? Text(cell).size()
                         : cell.kind == ValueKind::kBytes ? cell.bytes.size()
                                                          : 0;
    VariantClear(chunk);
    if (chunkOffset_ >= total) {
      chunkOffset_ = 0;  // the next call reads the value from its start again
      chunk->vt = VT_NULL;
      return S_OK;
    }
    const size_t count = std::min(total - chunkOffset_, static_cast<size_t>(length));
    if (cell.kind == ValueKind::kBytes) {
      chunk->parray = MakeByteVector(cell.bytes.data() + chunkOffset_, static_cast<ULONG>(count));
      if (chunk->parray == nullptr) return E_OUTOFMEMORY;
      chunk->vt = VT_ARRAY | VT_UI1;
    } else {
      chunk->bstrVal = AllocBstr(std::u16string_view(chunkText_).substr(chunkOffset_, count));
      if (chunk->bstrVal == nullptr) return E_OUTOFMEMORY;
      chunk->vt = VT_BSTR;
    }
    chunkOffset_ += count;
    return S_OK;
  }

  // The first append after another field was used (or since the edit began) replaces
  // the value; the next ones append to it.
  HRESULT AppendChunk(size_t column, const VARIANT& data) {
    std::lock_guard hold(mutex_);
    HRESULT hr = RequireWritable(column);
    if (FAILED(hr)) return hr;
    std::span<const uint8_t> bytes;
    std::string text;
    ValueKind kind = ValueKind::kBytes;
    if (SAFEARRAY* array = ByteArrayOf(data)) {
      bytes = {static_cast<const uint8_t*>(array->pvData),
               static_cast<size_t>(SafeArrayElementCount(array))};
    } else {
      Variant converted;
      const VARIANT& direct = data.vt == (VT_BYREF | VT_VARIANT) ? *data.pvarVal : data;
      std::optional<std::string> utf8;
      if ((direct.vt & ~VT_BYREF) == VT_BSTR &&
          SUCCEEDED(VariantChangeType(&converted, &direct, 0, VT_BSTR))) {
        utf8 = Utf16ToUtf8(BstrView(converted.bstrVal));
      }
      if (!utf8) return Report("AppendChunk takes a byte array or a text", DISP_E_TYPEMISMATCH);
      text = std::move(*utf8);
      bytes = {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
      kind = ValueKind::kText;
    }
    const ColumnInfo& info = cursor_->Columns()[column];
    if (info.kind != ValueKind::kNull && info.kind != kind) {
      return Report(
          info.name + (info.kind == ValueKind::kBytes  ? " takes a byte array"
                       : info.kind == ValueKind::kText ? " takes a text"
                                                       : " is not a text or binary field"),
          DISP_E_TYPEMISMATCH);
    }
    Touch(column);
    if (!appending_) cursor_->SetValue(column, Value{kind, 0, 0, {}});
    appending_ = true;
    Value* pending = cursor_->PendingValue(column);
    if (pending->kind != kind) {
      return Report("one run of AppendChunk cannot mix texts and bytes", DISP_E_TYPEMISMATCH);
    }
    if (bytes.size() > kMaxValueBytes - pending->bytes.size()) {
      return Report("a value may hold at most 1 GiB", E_INVALIDARG);
    }
    pending->bytes.insert(pending->bytes.end(), bytes.begin(), bytes.end());
    ForgetChunk();
    return S_OK;
  }

 private:
  HRESULT RequireCurrent() const {
    if (!cursor_) return Report(kClosedText);
    return cursor_->HasCurrent() ? S_OK : Report(kNoCurrent);
  }

  HRESULT RequireUpdatable() const {
    if (!cursor_) return Report(kClosedText);
    if (!updatable_) return Report(kReadOnly);
    if (!cursor_->NotUpdatable().empty())
      return Report(kReadOnly + (" (" + cursor_->NotUpdatable() + ")"));
    return S_OK;
  }

  HRESULT RequireWritable(size_t column) const {
    HRESULT hr = RequireUpdatable();
    if (SUCCEEDED(hr)) hr = RequireCurrent();
    if (FAILED(hr)) return hr;
    const std::string fixed = cursor_->ColumnFixed(column);
    return fixed.empty() ? S_OK : Report(fixed);
  }

  HRESULT WriteBack() {
    if (cursor_->EditMode() == RecordCursor::Mode::kNone) return S_OK;
    return OnSession(CLSID_Recordset, link_, [this](Session& session, std::string* error) {
      return cursor_->Update(session, error);
    });
  }

  // The text of a text cell as UTF-16, kept while the same field is read.
  const std::u16string& Text(const ValueView& cell) {
    if (!chunkTextReady_) {
      const Bstr text = Bstr::Attach(AllocBstrFromEngineText(cell.Text()));
      if (text.Get() == nullptr) throw std::bad_alloc();
      chunkText_ = text.View();
      chunkTextReady_ = true;
    }
    return chunkText_;
  }

  // Using a field other than the last one ends the last one's GetChunk and AppendChunk runs.
  void Touch(size_t column) {
    if (touched_ == static_cast<ptrdiff_t>(column)) return;
    touched_ = static_cast<ptrdiff_t>(column);
    appending_ = false;
    ForgetChunk();
  }
  void ForgetField() {
    touched_ = -1;
    appending_ = false;
    ForgetChunk();
  }
  void ForgetChunk() {
    chunkOffset_ = 0;
    chunkTextReady_ = false;
    chunkText_.clear();
  }

  std::mutex mutex_;
  ComPtr<IConnection> connection_;  // keeps the connection object alive
  std::shared_ptr<SessionLink> link_;
  std::unique_ptr<RecordCursor> cursor_;  // null once closed
  bool updatable_;
  ptrdiff_t touched_ = -1;
  bool appending_ = false;
  size_t chunkOffset_ = 0;
  bool chunkTextReady_ = false;
  std::u16string chunkText_;
};

namespace {

class FieldObject final : public ComObject<DispatchImpl<IRecordsetField, &RecordsetFieldInterface>,
                                           SupportErrorInfoFor<IRecordsetField>> {
 public:
  explicit FieldObject(IUnknown* outer) : ComObject(outer), lock_(ModuleLocks()) {}

  static HRESULT Create(std::shared_ptr<OpenRows> rows, size_t column, IDispatch** field) {
    ComPtr<IRecordsetField> created;
    const HRESULT hr =
        CreateComObject<FieldObject>(nullptr, IID_IRecordsetField, created.ReceiveVoid());
    if (FAILED(hr)) return hr;
    auto* object = static_cast<FieldObject*>(created.Get());
    object->rows_ = std::move(rows);
    object->column_ = column;
    *field = created.Detach();
    return S_OK;
  }

  HRESULT get_ActualSize(LONG* size) override {
    if (size == nullptr) return E_POINTER;
    return Guarded([&] { return rows_->ActualSize(column_, size); });
  }
  HRESULT AppendChunk(VARIANT data) override {
    return Guarded([&] { return rows_->AppendChunk(column_, data); });
  }
  HRESULT GetChunk(LONG length, VARIANT* chunk) override {
    if (chunk == nullptr) return E_POINTER;
    return Guarded([&] { return rows_->GetChunk(column_, length, chunk); });
  }
  HRESULT get_Name(BSTR* name) override {
    if (name == nullptr) return E_POINTER;
    return Guarded([&] { return rows_->Describe(column_, name, nullptr, nullptr); });
  }
  HRESULT get_Type(LONG* type) override {
    if (type == nullptr) return E_POINTER;
    return Guarded([&] { return rows_->Describe(column_, nullptr, type, nullptr); });
  }
  HRESULT get_DefinedSize(LONG* size) override {
    if (size == nullptr) return E_POINTER;
    return Guarded([&] { return rows_->Describe(column_, nullptr, nullptr, size); });
  }
  HRESULT get_Value(VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    return Guarded([&] { return rows_->GetValue(column_, value); });
  }
  HRESULT put_Value(VARIANT value) override {
    return Guarded([&] { return rows_->SetValue(column_, value); });
  }

 private:
  ModuleLockHolder lock_;
  std::shared_ptr<OpenRows> rows_;
  size_t column_ = 0;
};

// The fields in column order, made as they are handed out.
class FieldEnumerator final : public ComObject<IEnumVARIANT> {
 public:
  explicit FieldEnumerator(IUnknown* outer) : ComObject(outer), lock_(ModuleLocks()) {}

  static HRESULT Create(std::shared_ptr<OpenRows> rows, size_t count, IUnknown** enumerator) {
    ComPtr<IEnumVARIANT> created;
    const HRESULT hr =
        CreateComObject<FieldEnumerator>(nullptr, IID_IEnumVARIANT, created.ReceiveVoid());
    if (FAILED(hr)) return hr;
    auto* object = static_cast<FieldEnumerator*>(created.Get());
    object->rows_ = std::move(rows);
    object->count_ = count;
    *enumerator = created.Detach();
    return S_OK;
  }

  HRESULT Next(ULONG count, VARIANT* values, ULONG* fetched) override {
    if (values == nullptr || (count != 1 && fetched == nullptr)) return E_POINTER;
    std::lock_guard hold(mutex_);
    ULONG given = 0;
    while (given < count && position_ < count_) {
      IDispatch* field = nullptr;
      const HRESULT hr = FieldObject::Create(rows_, position_, &field);
      if (FAILED(hr)) break;
      VariantInit(&values[given]);
      values[given].vt = VT_DISPATCH;
      values[given].pdispVal = field;
      ++given, ++position_;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    std::lock_guard hold(mutex_);
    position_ = std::min(count_, position_ + count);
    return S_OK;
  }
  HRESULT Reset() override {
    std::lock_guard hold(mutex_);
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumVARIANT** copy) override {
    if (copy != nullptr) *copy = nullptr;
    return E_NOTIMPL;
  }

 private:
  ModuleLockHolder lock_;
  std::mutex mutex_;
  std::shared_ptr<OpenRows> rows_;
  size_t count_ = 0;
  size_t position_ = 0;
};

class FieldsObject final
    : public ComObject<DispatchImpl<IFields, &FieldsInterface>, SupportErrorInfoFor<IFields>> {
 public:
  explicit FieldsObject(IUnknown* outer) : ComObject(outer), lock_(ModuleLocks()) {}

  // `rows` is null for a closed recordset: every member then says so.
  static HRESULT Create(std::shared_ptr<OpenRows> rows, IDispatch** fields) {
    ComPtr<IFields> created;
    const HRESULT hr = CreateComObject<FieldsObject>(nullptr, IID_IFields, created.ReceiveVoid());
    if (FAILED(hr)) return hr;
    static_cast<FieldsObject*>(created.Get())->rows_ = std::move(rows);
    *fields = created.Detach();
    return S_OK;
  }

  HRESULT get_Item(VARIANT index, IDispatch** field) override {
    if (field == nullptr) return E_POINTER;
    *field = nullptr;
    if (!rows_) return Report(kClosedText);
    return Guarded([&] {
      size_t column = 0;
      const HRESULT hr = rows_->FindColumn(index, &column);
      return FAILED(hr) ? hr : FieldObject::Create(rows_, column, field);
    });
  }
  HRESULT get_Count(LONG* count) override {
    if (count == nullptr) return E_POINTER;
    if (!rows_) return Report(kClosedText);
    return rows_->Count(count);
  }
  HRESULT get__NewEnum(IUnknown** enumerator) override {
    if (enumerator == nullptr) return E_POINTER;
    *enumerator = nullptr;
    LONG count = 0;
    const HRESULT hr = get_Count(&count);
    if (FAILED(hr)) return hr;
    return FieldEnumerator::Create(rows_, static_cast<size_t>(count), enumerator);
  }

 private:
  ModuleLockHolder lock_;
  std::shared_ptr<OpenRows> rows_;
};

// Calls a member of the open rows; a closed recordset says so.
template <typename Call>
HRESULT OnRows(const std::shared_ptr<OpenRows>& rows, Call&& call) {
  if (!rows) return Report(kClosedText);
  return Guarded([&] { return call(*rows); });
}

HRESULT MoveTo(const std::shared_ptr<OpenRows>& rows, OpenRows::Move move) {
  return OnRows(rows, [move](OpenRows& open) { return open.MoveTo(move); });
}

}  // namespace

HRESULT CreateRecordset(ComPtr<IConnection> connection, std::shared_ptr<SessionLink> link,
                        std::shared_ptr<const ResultSet> rows, bool updatable,
                        IDispatch** recordset) {
  ComPtr<IRecordset> created;
  const HRESULT hr =
      CreateComObject<RecordsetObject>(nullptr, IID_IRecordset, created.ReceiveVoid());
  if (FAILED(hr)) return hr;
  static_cast<RecordsetObject*>(created.Get())
      ->Attach(std::make_shared<OpenRows>(std::move(connection), std::move(link), std::move(rows),
                                          updatable));
  *recordset = created.Detach();
  return S_OK;
}

void RecordsetObject::Attach(std::shared_ptr<OpenRows> rows) {
  std::lock_guard hold(mutex_);
  rows_ = std::move(rows);
}

std::shared_ptr<OpenRows> RecordsetObject::Rows() {
  std::lock_guard hold(mutex_);
  return rows_;
}

HRESULT RecordsetObject::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  const bool indexed = id == DISPID_VALUE && params != nullptr && params->cArgs > 0 &&
                       (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) == 0;
  if (!indexed) {
    return DispatchImpl::Invoke(id, iid, locale, flags, params, result, exception, argumentError);
  }
  ComPtr<IDispatch> fields;
  const HRESULT hr = FieldsObject::Create(Rows(), fields.Receive());
  if (FAILED(hr)) return hr;
  return fields->Invoke(DISPID_VALUE, iid, locale, DISPATCH_PROPERTYGET, params, result, exception,
                        argumentError);
}

HRESULT RecordsetObject::get_Fields(IDispatch** fields) {
  if (fields == nullptr) return E_POINTER;
  *fields = nullptr;
  std::shared_ptr<OpenRows> rows = Rows();
  if (!rows) return Report(kClosedText);
  return FieldsObject::Create(std::move(rows), fields);
}

HRESULT RecordsetObject::Open(BSTR source, VARIANT activeConnection, LONG, LONG lockType,
                              LONG options, VARIANT parameters) {
  return Guarded([&] {
    if (Rows()) return Report(kOpenText);
    const std::optional<std::string> text = BstrToUtf8(source);
    if (!text || text->empty())
      return Report("the source is empty or not valid text", E_INVALIDARG);
    const VARIANT& target = activeConnection.vt == (VT_BYREF | VT_VARIANT)
                                ? *activeConnection.pvarVal
                                : activeConnection;
    ComPtr<IConnection> connection;
    if (target.vt == VT_DISPATCH && ConnectionOf(target.pdispVal) != nullptr) {
      connection = ComPtr<IConnection>(ConnectionOf(target.pdispVal));
    } else if (target.vt == VT_BSTR) {  // a connection string: a connection of its own
      HRESULT hr =
          CreateComObject<ConnectionObject>(nullptr, IID_IConnection, connection.ReceiveVoid());
      if (SUCCEEDED(hr)) hr = connection->Open(target, Variant::Missing(), Variant::Missing());
      if (FAILED(hr)) return hr;
    } else {
      return Report("ActiveConnection must be a Vellum.Connection or a connection string",
                    DISP_E_TYPEMISMATCH);
    }
    ScriptParameters values;
    std::string problem;
    HRESULT hr = values.Read(parameters, &problem);
    if (FAILED(hr)) return Report(problem, hr);
    const std::string sql =
        options == kCommandTable ? "SELECT * FROM " + QuoteIdentifier(*text) : *text;
    const bool updatable = IsLockForWriting(lockType);
    const std::shared_ptr<SessionLink> link =
        static_cast<ConnectionObject*>(connection.Get())->Link();
    Outcome outcome;
    hr = OnSession(CLSID_Recordset, link, [&](Session& session, std::string* error) {
      return session.Execute(sql, values.Get(), updatable, &outcome, error);
    });
    if (FAILED(hr)) return hr;
    if (!outcome.rows) return Report("the statement returns no rows");
    Attach(std::make_shared<OpenRows>(std::move(connection), link, std::move(outcome.rows),
                                      updatable));
    return S_OK;
  });
}

HRESULT RecordsetObject::Close() {
  std::shared_ptr<OpenRows> rows = Rows();
  if (!rows) return Report(kClosedText);
  const HRESULT hr = rows->Close();
  if (FAILED(hr)) return hr;
  std::lock_guard hold(mutex_);
  rows_.reset();
  return S_OK;
}

HRESULT RecordsetObject::get_EOF(VARIANT_BOOL* atEnd) {
  if (atEnd == nullptr) return E_POINTER;
  return OnRows(Rows(), [atEnd](OpenRows& rows) { return rows.AtEnd(atEnd, false); });
}

HRESULT RecordsetObject::get_BOF(VARIANT_BOOL* atStart) {
  if (atStart == nullptr) return E_POINTER;
  return OnRows(Rows(), [atStart](OpenRows& rows) { return rows.AtEnd(atStart, true); });
}

HRESULT RecordsetObject::MoveNext() { return MoveTo(Rows(), OpenRows::Move::kNext); }
HRESULT RecordsetObject::MovePrevious() { return MoveTo(Rows(), OpenRows::Move::kPrevious); }
HRESULT RecordsetObject::MoveFirst() { return MoveTo(Rows(), OpenRows::Move::kFirst); }
HRESULT RecordsetObject::MoveLast() { return MoveTo(Rows(), OpenRows::Move::kLast); }

HRESULT RecordsetObject::get_RecordCount(LONG* count) {
  if (count == nullptr) return E_POINTER;
  return OnRows(Rows(), [count](OpenRows& rows) { return rows.RecordCount(count); });
}

HRESULT RecordsetObject::AddNew() {
  return OnRows(Rows(), [](OpenRows& rows) { return rows.AddNew(); });
}

HRESULT RecordsetObject::Update() {
  return OnRows(Rows(), [](OpenRows& rows) { return rows.Update(); });
}

HRESULT RecordsetObject::CancelUpdate() {
  return OnRows(Rows(), [](OpenRows& rows) { return rows.CancelUpdate(); });
}

HRESULT RecordsetObject::Delete() {
  return OnRows(Rows(), [](OpenRows& rows) { return rows.Delete(); });
}

HRESULT RecordsetObject::get_EditMode(LONG* mode) {
  if (mode == nullptr) return E_POINTER;
  return OnRows(Rows(), [mode](OpenRows& rows) { return rows.EditMode(mode); });
}

HRESULT RecordsetObject::get_State(LONG* state) {
  if (state == nullptr) return E_POINTER;
  *state = Rows() ? kStateOpen : kStateClosed;
  return S_OK;
}

}  // namespace database
