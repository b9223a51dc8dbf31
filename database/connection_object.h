// "Vellum.Connection": a connection to an SQLite file or a PostgreSQL database.
//
//   conn = CreateObject("Vellum.Connection")
//   conn.Open("sqlite:/srv/site/photos.db")      or "postgresql://..." (see connection_string.h)
//   rs = conn.Execute("SELECT * FROM photos WHERE id = ?", [id])   a Recordset (read-only)
//   n = conn.Execute("DELETE FROM photos WHERE id = :id", dict)     rows changed
//   conn.BeginTrans() ... conn.CommitTrans() / conn.RollbackTrans()  (nested: savepoints)
//   conn.Close()                     recordsets keep their rows; they can no longer write
//
// Failures are automation errors (E_FAIL, or the argument's fault) whose description is
// the engine's message.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "database/engine.h"
#include "database/interfaces.h"
#include "database/object_support.h"
#include "database/type_library.h"
#include "platform/com/object.h"

namespace database {

// A session shared by a connection and the recordsets opened on it; null once closed.
struct SessionLink {
  std::mutex mutex;
  std::unique_ptr<Session> session;
};

class ConnectionObject final : public ComObject<DispatchImpl<IConnection, &ConnectionInterface>,
                                                SupportErrorInfoFor<IConnection>> {
 public:
  explicit ConnectionObject(IUnknown* outer) : ComObject(outer), lock_(ModuleLocks()) {}
  ~ConnectionObject() override;

  HRESULT get_ConnectionString(BSTR* text) override;
  HRESULT put_ConnectionString(BSTR text) override;
  HRESULT Open(VARIANT connectionString, VARIANT user, VARIANT password) override;
  HRESULT Close() override;
  HRESULT Execute(BSTR sql, VARIANT parameters, VARIANT* result) override;
  HRESULT BeginTrans(LONG* level) override;
  HRESULT CommitTrans() override;
  HRESULT RollbackTrans() override;
  HRESULT get_State(LONG* state) override;
  HRESULT get_Provider(BSTR* name) override;

  // The open session's link, or null when the connection is closed.
  std::shared_ptr<SessionLink> Link();

 private:
  ModuleLockHolder lock_;
  std::mutex mutex_;  // guards the members below
  std::string connectionString_;
  std::shared_ptr<SessionLink> link_;
  int transactionLevel_ = 0;
};

// Runs `action(session, &error)` on the link's session when it is open; a failure is
// reported with the engine's message and `source` as the error's source.
template <typename Action>
HRESULT OnSession(REFCLSID source, const std::shared_ptr<SessionLink>& link, Action&& action) {
  if (!link) return Fail(source, kClosedText);
  std::lock_guard hold(link->mutex);
  if (!link->session) return Fail(source, kClosedText);
  std::string error;
  return action(*link->session, &error) ? S_OK : Fail(source, error);
}

// The ConnectionObject behind an object a script passed, or null for any other object.
ConnectionObject* ConnectionOf(IUnknown* object);

}  // namespace database
