// Application and session state: values kept between requests, the objects pages see
// them through, and the table of sessions with their expiry.
//
// A value kept here may be read by another request on another thread, so an object is
// accepted only when it may be called from any thread: one that aggregates the
// free-threaded marshaler (Dictionary, Images). An object bound to the thread that
// made it (an Easel, the page's own Request) is refused with a clear error instead of
// being shared unsafely.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "host/pages/page_object.h"

namespace pages {

// True for a value that other threads may use: anything but objects, and objects
// (also inside arrays) that are free-threaded.
bool IsShareable(const VARIANT& value);

// While alive, waits of this thread for Application.Lock end at `deadline` (the
// page's time limit), so that a page cannot wait past it.
class WaitLimit {
 public:
  explicit WaitLimit(const std::chrono::steady_clock::time_point* deadline);
  ~WaitLimit();
  WaitLimit(const WaitLimit&) = delete;
  WaitLimit& operator=(const WaitLimit&) = delete;

 private:
  const std::chrono::steady_clock::time_point* previous_;
};

// Application.Lock: while one thread holds it, other threads' changes to the
// application's values wait. A holder may lock again (it unlocks as many times).
class ApplicationLock {
 public:
  // Takes the lock; false when the thread's wait limit passed first.
  bool Lock();
  void Unlock();
  // Releases what the calling thread holds (its page ended without Unlock).
  void ReleaseHeldByThisThread();
  // Waits for a turn to change values and holds it while the result lives (an empty
  // lock when the wait limit passed).
  std::unique_lock<std::mutex> Turn();

 private:
  bool WaitFor(std::unique_lock<std::mutex>& held);

  std::mutex mutex_;
  std::condition_variable released_;
  std::thread::id owner_;
  int depth_ = 0;
};

// Named values in the order they were first set; names match without regard to case.
class ValueStore {
 public:
  // Keeps a copy of `value` (references read through); E_INVALIDARG for an object
  // that is not free-threaded (IsShareable).
  HRESULT Set(std::u16string_view name, const VARIANT& value);
  // A copy of the value; VT_EMPTY for a name that is not there.
  HRESULT Get(std::u16string_view name, VARIANT* value) const;
  HRESULT GetAt(size_t index, VARIANT* value) const;
  std::optional<std::u16string> NameAt(size_t index) const;
  size_t Count() const;
  void Remove(std::u16string_view name);
  void RemoveAt(size_t index);
  void RemoveAll();
  std::vector<std::u16string> Names() const;

 private:
  using Entry = std::pair<std::u16string, Variant>;
  size_t FindLocked(std::u16string_view name) const;

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

// The shared state of one visitor.
class SessionState {
 public:
  SessionState(std::string id, std::chrono::seconds timeout)
      : id_(std::move(id)), timeout_(timeout) {}

  const std::string& Id() const { return id_; }
  const std::shared_ptr<ValueStore>& Contents() const { return contents_; }
  std::chrono::seconds Timeout() const { return timeout_.load(); }
  void SetTimeout(std::chrono::seconds timeout) { timeout_ = timeout; }
  void Abandon() { abandoned_ = true; }
  bool Abandoned() const { return abandoned_.load(); }

  // The pages of one visitor run one at a time, so that a page reading and changing
  // the session's values is not undone by another page of the same visitor. False
  // when `deadline` passed before the session was free.
  bool TakeTurn(std::chrono::steady_clock::time_point deadline);
  void GiveTurn();

 private:
  friend class SessionTable;
  std::mutex turnMutex_;
  std::condition_variable turnFree_;
  bool pageRunning_ = false;
  std::string id_;
  std::shared_ptr<ValueStore> contents_ = std::make_shared<ValueStore>();
  std::atomic<std::chrono::seconds> timeout_;
  std::atomic<bool> abandoned_{false};
  // Kept by the table, under its lock.
  std::chrono::steady_clock::time_point lastUse_ = std::chrono::steady_clock::now();
  int requests_ = 0;
};

// The sessions of one host process. A session is in use while a request holds it;
// it expires once it has been unused for its timeout. At most `maxSessions` exist:
// making one more ends the one unused the longest.
class SessionTable {
 public:
  SessionTable(size_t maxSessions, std::chrono::seconds timeout)
      : maxSessions_(maxSessions), timeout_(timeout) {}

  // The live session of that id, now in use by the caller; null when there is none.
  std::shared_ptr<SessionState> Use(const std::string& id);
  // A new session in use by the caller (null when no random id can be made); a
  // session it pushed out is added to `ended`.
  std::shared_ptr<SessionState> Start(std::vector<std::shared_ptr<SessionState>>* ended);
  // The caller's request is done with the session; an abandoned one leaves the table
  // and is returned, to be ended.
  std::shared_ptr<SessionState> Done(const std::shared_ptr<SessionState>& session);
  // Sessions unused for their timeout, out of the table.
  std::vector<std::shared_ptr<SessionState>> TakeExpired();
  // Every session, out of the table.
  std::vector<std::shared_ptr<SessionState>> TakeAll();
  size_t Count() const;

 private:
  mutable std::mutex mutex_;
  size_t maxSessions_;
  std::chrono::seconds timeout_;
  std::unordered_map<std::string, std::shared_ptr<SessionState>> sessions_;
};

// 128 random bits as 32 hexadecimal digits; nothing when the system gives none.
std::optional<std::string> NewSessionId();

// Application.Contents and Session.Contents over a store; changes to the application's
// wait for its lock.
ComPtr<IPageContents> MakeContents(std::shared_ptr<ValueStore> store,
                                   std::shared_ptr<ApplicationLock> lock);

// The Application object of a site (free to call from any thread).
ComPtr<IPageApplication> MakeApplication(std::shared_ptr<ValueStore> store,
                                         std::shared_ptr<ApplicationLock> lock);

// What a page's Session object asks of the page: the session, started when the page
// first needs one.
class SessionSource {
 public:
  // Null with error information when there is none (the page turned sessions off, or
  // none could be made).
  virtual std::shared_ptr<SessionState> PageSession() = 0;

 protected:
  ~SessionSource() = default;
};

// The Session object of a page.
ComPtr<IPageSession> MakeSessionObject(std::shared_ptr<const PageScope> scope,
                                       SessionSource* source);

}  // namespace pages
