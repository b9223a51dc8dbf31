#include "database/connection_object.h"

#include <climits>

#include "database/recordset_object.h"
#include "database/variant_values.h"
#include "platform/com/bstr.h"

namespace database {

namespace {

HRESULT Report(const std::string& message, HRESULT result = E_FAIL) {
  return Fail(CLSID_Connection, message, result);
}

// An optional text argument: empty when left out; false when it is not a text.
bool OptionalText(const VARIANT& argument, std::string* text) {
  text->clear();
  if (argument.vt == VT_ERROR && argument.scode == DISP_E_PARAMNOTFOUND) return true;
  if (argument.vt == VT_EMPTY || argument.vt == VT_NULL) return true;
  Variant converted;
  if (FAILED(VariantChangeType(&converted, &argument, 0, VT_BSTR))) return false;
  const std::optional<std::string> utf8 = BstrToUtf8(converted.bstrVal);
  if (!utf8) return false;
  *text = *utf8;
  return true;
}

std::string SavepointName(int level) { return "vellum_level_" + std::to_string(level); }

auto Statement(std::string sql) {
  return [sql = std::move(sql)](Session& session, std::string* error) {
    Outcome ignored;
    return session.Execute(sql, {}, false, &ignored, error);
  };
}

}  // namespace

ConnectionObject* ConnectionOf(IUnknown* object) {
  ComPtr<IConnection> connection;
  if (object == nullptr ||
      FAILED(object->QueryInterface(IID_IConnection, connection.ReceiveVoid()))) {
    return nullptr;
  }
  return static_cast<ConnectionObject*>(connection.Get());
}

ConnectionObject::~ConnectionObject() { Close(); }

std::shared_ptr<SessionLink> ConnectionObject::Link() {
  std::lock_guard hold(mutex_);
  return link_;
}

HRESULT ConnectionObject::get_ConnectionString(BSTR* text) {
  if (text == nullptr) return E_POINTER;
  std::lock_guard hold(mutex_);
  *text = AllocBstrFromUtf8(connectionString_);
  return *text != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT ConnectionObject::put_ConnectionString(BSTR text) {
  return Guarded([&] {
    const std::optional<std::string> utf8 = BstrToUtf8(text);
    if (!utf8) return Report("the connection string is not valid text", E_INVALIDARG);
    std::lock_guard hold(mutex_);
    if (link_) return Report(kOpenText);
    connectionString_ = *utf8;
    return S_OK;
  });
}

HRESULT ConnectionObject::Open(VARIANT connectionString, VARIANT user, VARIANT password) {
  return Guarded([&] {
    std::string target;
    std::string userName;
    std::string secret;
    if (!OptionalText(connectionString, &target) || !OptionalText(user, &userName) ||
        !OptionalText(password, &secret)) {
      return Report("the connection string, user and password must be texts", DISP_E_TYPEMISMATCH);
    }
    std::lock_guard hold(mutex_);
    if (link_) return Report(kOpenText);
    if (!target.empty()) connectionString_ = target;
    std::string error;
    std::unique_ptr<Session> session = OpenSession(connectionString_, userName, secret, &error);
    if (!session) return Report(error);
    link_ = std::make_shared<SessionLink>();
    link_->session = std::move(session);
    transactionLevel_ = 0;
    return S_OK;
  });
}

HRESULT ConnectionObject::Close() {
  std::shared_ptr<SessionLink> link;
  {
    std::lock_guard hold(mutex_);
    link = std::move(link_);
    transactionLevel_ = 0;
  }
  if (link) {
    std::lock_guard hold(link->mutex);
    link->session.reset();  // an open transaction is rolled back
  }
  return S_OK;
}

HRESULT ConnectionObject::Execute(BSTR sql, VARIANT parameters, VARIANT* result) {
  if (result == nullptr) return E_POINTER;
  return Guarded([&] {
    const std::optional<std::string> text = BstrToUtf8(sql);
    if (!text) return Report("the statement is not valid text", E_INVALIDARG);
    ScriptParameters values;
    std::string problem;
    const HRESULT read = values.Read(parameters, &problem);
    if (FAILED(read)) return Report(problem, read);
    const std::shared_ptr<SessionLink> link = Link();
    Outcome outcome;
    const HRESULT ran =
        OnSession(CLSID_Connection, link, [&](Session& session, std::string* error) {
          return session.Execute(*text, values.Get(), false, &outcome, error);
        });
    if (FAILED(ran)) return ran;
    if (outcome.rows) {
      IDispatch* recordset = nullptr;
      const HRESULT hr = CreateRecordset(ComPtr<IConnection>(this), link, std::move(outcome.rows),
                                         false, &recordset);
      if (FAILED(hr)) return hr;
      result->vt = VT_DISPATCH;
      result->pdispVal = recordset;
    } else if (outcome.changed >= INT32_MIN && outcome.changed <= INT32_MAX) {
      result->vt = VT_I4;
      result->lVal = static_cast<LONG>(outcome.changed);
    } else {
      result->vt = VT_I8;
      result->llVal = outcome.changed;
    }
    return S_OK;
  });
}

HRESULT ConnectionObject::BeginTrans(LONG* level) {
  if (level == nullptr) return E_POINTER;
  return Guarded([&] {
    std::lock_guard hold(mutex_);
    const int next = transactionLevel_ + 1;
    const HRESULT hr =
        OnSession(CLSID_Connection, link_, [next](Session& session, std::string* error) {
          return Statement(next == 1 ? session.BeginStatement()
                                     : "SAVEPOINT " + SavepointName(next))(session, error);
        });
    if (FAILED(hr)) return hr;
    *level = transactionLevel_ = next;
    return S_OK;
  });
}

HRESULT ConnectionObject::CommitTrans() {
  return Guarded([&] {
    std::lock_guard hold(mutex_);
    if (transactionLevel_ == 0) return Report("no transaction is open");
    const HRESULT hr =
        transactionLevel_ == 1
            ? OnSession(CLSID_Connection, link_,
                        [](Session& session, std::string* error) { return session.Commit(error); })
            : OnSession(CLSID_Connection, link_,
                        Statement("RELEASE SAVEPOINT " + SavepointName(transactionLevel_)));
    // A failed commit has rolled the transaction back; a failed release leaves it open.
    if (SUCCEEDED(hr) || transactionLevel_ == 1) --transactionLevel_;
    return hr;
  });
}

HRESULT ConnectionObject::RollbackTrans() {
  return Guarded([&] {
    std::lock_guard hold(mutex_);
    if (transactionLevel_ == 0) return Report("no transaction is open");
    const std::string savepoint = SavepointName(transactionLevel_);
    const HRESULT hr = OnSession(
        CLSID_Connection, link_,
        Statement(transactionLevel_ == 1
                      ? std::string("ROLLBACK")
                      : "ROLLBACK TO SAVEPOINT " + savepoint + "; RELEASE SAVEPOINT " + savepoint));
    if (SUCCEEDED(hr)) --transactionLevel_;
    return hr;
  });
}

HRESULT ConnectionObject::get_State(LONG* state) {
  if (state == nullptr) return E_POINTER;
  std::lock_guard hold(mutex_);
  *state = link_ ? kStateOpen : kStateClosed;
  return S_OK;
}

HRESULT ConnectionObject::get_Provider(BSTR* name) {
  if (name == nullptr) return E_POINTER;
  std::shared_ptr<SessionLink> link = Link();
  const char* provider = "";
  if (link) {
    std::lock_guard hold(link->mutex);
    if (link->session) {
      provider = link->session->Kind() == Engine::kSqlite ? "SQLite" : "PostgreSQL";
    }
  }
  *name = AllocBstrFromUtf8(provider);
  return *name != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace database
