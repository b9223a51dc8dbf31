#include "host/pages/page_state.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>

#include "platform/com/safe_array.h"

namespace pages {

namespace {

constexpr const char16_t* kApplicationSource = u"Application object";
constexpr const char16_t* kSessionSource = u"Session object";

thread_local const std::chrono::steady_clock::time_point* t_waitLimit = nullptr;

HRESULT RefuseUnshareable(const char16_t* source) {
  return Fail(E_INVALIDARG, source,
              u"Only values other pages may use on their own threads can be kept here: texts, "
              u"numbers, arrays of them, and free-threaded objects (Dictionary, Images). This "
              u"object belongs to the thread of the page that made it.");
}

HRESULT StoreName(const std::optional<std::u16string>& name, VARIANT* out) {
  if (out == nullptr) return E_POINTER;
  VariantClear(out);
  if (!name) return DISP_E_BADINDEX;
  out->bstrVal = AllocBstr(*name);
  if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  return S_OK;
}

// Application.Contents / Session.Contents.
class ContentsObject final : public ComObject<DispatchImpl<IPageContents, &PageContentsInterface>> {
 public:
  explicit ContentsObject(IUnknown* outer) : ComObject(outer) {}

  std::shared_ptr<ValueStore> store;
  std::shared_ptr<ApplicationLock> lock;  // null for a session's

  HRESULT get_Item(VARIANT key, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    if (const std::optional<LONG> position = PositionOf(key)) {
      if (*position < 1 || FAILED(store->GetAt(static_cast<size_t>(*position - 1), value))) {
        return Fail(DISP_E_BADINDEX, Source(), u"There is no value at that position.");
      }
      return S_OK;
    }
    const std::optional<std::u16string> name = NameOf(key);
    if (!name) return Fail(DISP_E_TYPEMISMATCH, Source(), u"The key is not a name.");
    return store->Get(*name, value);
  }
  HRESULT put_Item(VARIANT key, VARIANT value) override {
    const std::optional<std::u16string> name = NameOf(key);
    if (!name) return Fail(DISP_E_TYPEMISMATCH, Source(), u"The key is not a name.");
    const HRESULT hr = Change([&] { return store->Set(*name, value); });
    return hr == E_INVALIDARG ? RefuseUnshareable(Source()) : hr;
  }
  HRESULT get_Count(LONG* count) override {
    return StoreOut(count, static_cast<LONG>(store->Count()));
  }
  HRESULT get_Key(VARIANT index, VARIANT* name) override {
    const std::optional<LONG> position = PositionOf(index);
    const HRESULT hr =
        StoreName(position && *position >= 1 ? store->NameAt(static_cast<size_t>(*position - 1))
                                             : std::nullopt,
                  name);
    if (hr == DISP_E_BADINDEX) return Fail(hr, Source(), u"There is no value at that position.");
    return hr;
  }
  HRESULT Remove(VARIANT key) override {
    if (const std::optional<LONG> position = PositionOf(key)) {
      if (*position < 1) return Fail(DISP_E_BADINDEX, Source(), u"Positions start at 1.");
      return Change([&] {
        store->RemoveAt(static_cast<size_t>(*position - 1));
        return S_OK;
      });
    }
    const std::optional<std::u16string> name = NameOf(key);
    if (!name) return Fail(DISP_E_TYPEMISMATCH, Source(), u"The key is not a name.");
    return Change([&] {
      store->Remove(*name);
      return S_OK;
    });
  }
  HRESULT RemoveAll() override {
    return Change([&] {
      store->RemoveAll();
      return S_OK;
    });
  }
  HRESULT get__NewEnum(IUnknown** enumerator) override {
    const std::vector<std::u16string> names = store->Names();
    std::vector<Variant> items(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      if (FAILED(StoreName(names[i], &items[i]))) return E_OUTOFMEMORY;
    }
    return MakeValueEnumerator(std::move(items), enumerator);
  }

 private:
  const char16_t* Source() const { return lock ? kApplicationSource : kSessionSource; }

  // Runs a change, after waiting for the application lock when there is one.
  template <typename F>
  HRESULT Change(F&& change) {
    if (!lock) return change();
    const std::unique_lock<std::mutex> turn = lock->Turn();
    if (!turn.owns_lock()) {
      return Fail(E_FAIL, Source(),
                  u"Another page held Application.Lock past this page's time limit.");
    }
    return change();
  }
};

class ApplicationObject final
    : public ComObject<DispatchImpl<IPageApplication, &PageApplicationInterface>> {
 public:
  explicit ApplicationObject(IUnknown* outer) : ComObject(outer) {}

  ComPtr<IPageContents> contents;
  std::shared_ptr<ApplicationLock> lock;

  HRESULT get_Value(BSTR name, VARIANT* value) override {
    return contents->get_Item(Key(name), value);
  }
  HRESULT put_Value(BSTR name, VARIANT value) override {
    return contents->put_Item(Key(name), value);
  }
  HRESULT get_Contents(IPageContents** out) override { return HandOut(contents, out); }
  HRESULT Lock() override {
    if (lock->Lock()) return S_OK;
    return Fail(E_FAIL, kApplicationSource,
                u"Another page held Application.Lock past this page's time limit.");
  }
  HRESULT Unlock() override {
    lock->Unlock();
    return S_OK;
  }

 private:
  // A name as a key argument (not owned: the BSTR stays the caller's).
  static VARIANT Key(BSTR name) {
    VARIANT key;
    VariantInit(&key);
    key.vt = VT_BSTR;
    key.bstrVal = name;
    return key;
  }
};

class SessionObject final : public ComObject<PageDispatch<IPageSession, &PageSessionInterface>> {
 public:
  explicit SessionObject(IUnknown* outer) : ComObject(outer) {}

  void Attach(std::shared_ptr<const PageScope> scope, SessionSource* source) {
    scope_ = std::move(scope);
    source_ = source;
  }

  HRESULT get_Value(BSTR name, VARIANT* value) override {
    const std::shared_ptr<SessionState> session = source_->PageSession();
    if (!session) return E_FAIL;
    return session->Contents()->Get(BstrView(name), value);
  }
  HRESULT put_Value(BSTR name, VARIANT value) override {
    const std::shared_ptr<SessionState> session = source_->PageSession();
    if (!session) return E_FAIL;
    const HRESULT hr = session->Contents()->Set(BstrView(name), value);
    if (hr == E_INVALIDARG) return RefuseUnshareable(kSessionSource);
    return hr;
  }
  HRESULT get_Contents(IPageContents** out) override {
    const std::shared_ptr<SessionState> session = source_->PageSession();
    if (!session) return E_FAIL;
    const ComPtr<IPageContents> contents = MakeContents(session->Contents(), nullptr);
    if (!contents) return E_OUTOFMEMORY;
    return HandOut(contents, out);
  }
  HRESULT get_SessionID(BSTR* id) override {
    if (id == nullptr) return E_POINTER;
    const std::shared_ptr<SessionState> session = source_->PageSession();
    if (!session) return E_FAIL;
    *id = RequestText(session->Id());
    return *id != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_Timeout(LONG* minutes) override {
    const std::shared_ptr<SessionState> session = source_->PageSession();
    if (!session) return E_FAIL;
    const auto seconds = session->Timeout().count();
    return StoreOut(minutes, static_cast<LONG>((seconds + 59) / 60));
  }
  HRESULT put_Timeout(LONG minutes) override {
    if (minutes < 1 || minutes > 1440) {
      return Fail(E_INVALIDARG, kSessionSource, u"Timeout is from 1 to 1440 minutes.");
    }
    const std::shared_ptr<SessionState> session = source_->PageSession();
    if (!session) return E_FAIL;
    session->SetTimeout(std::chrono::minutes(minutes));
    return S_OK;
  }
  HRESULT Abandon() override {
    const std::shared_ptr<SessionState> session = source_->PageSession();
    if (!session) return E_FAIL;
    session->Abandon();
    return S_OK;
  }

 private:
  SessionSource* source_ = nullptr;
};

}  // namespace

bool IsShareable(const VARIANT& value) {
  const VARIANT* direct = &value;
  if (value.vt == (VT_BYREF | VT_VARIANT)) direct = value.pvarVal;
  if (direct == nullptr) return true;
  const VARTYPE type = direct->vt & ~VT_BYREF;
  if (type == VT_DISPATCH || type == VT_UNKNOWN) {
    IUnknown* object = (direct->vt & VT_BYREF) ? *direct->ppunkVal : direct->punkVal;
    if (object == nullptr) return true;
    ComPtr<IUnknown> marshaler;
    return SUCCEEDED(object->QueryInterface(IID_IMarshal, marshaler.ReceiveVoid()));
  }
  if (type == (VT_ARRAY | VT_VARIANT) || type == (VT_ARRAY | VT_DISPATCH) ||
      type == (VT_ARRAY | VT_UNKNOWN)) {
    SAFEARRAY* array = (direct->vt & VT_BYREF) ? *direct->pparray : direct->parray;
    if (array == nullptr) return true;
    const uint64_t count = SafeArrayElementCount(array);
    for (uint64_t i = 0; i < count; ++i) {
      Variant element;
      if (type == (VT_ARRAY | VT_VARIANT)) {
        if (FAILED(VariantCopy(&element, &static_cast<VARIANT*>(array->pvData)[i]))) return false;
      } else {
        element.vt = type & ~VT_ARRAY;
        element.punkVal = static_cast<IUnknown**>(array->pvData)[i];
        if (element.punkVal != nullptr) element.punkVal->AddRef();
      }
      if (!IsShareable(element)) return false;
    }
  }
  return true;
}

WaitLimit::WaitLimit(const std::chrono::steady_clock::time_point* deadline)
    : previous_(std::exchange(t_waitLimit, deadline)) {}

WaitLimit::~WaitLimit() { t_waitLimit = previous_; }

bool ApplicationLock::WaitFor(std::unique_lock<std::mutex>& held) {
  const std::thread::id me = std::this_thread::get_id();
  const auto mayGo = [&] { return depth_ == 0 || owner_ == me; };
  if (t_waitLimit == nullptr) {
    released_.wait(held, mayGo);
    return true;
  }
  return released_.wait_until(held, *t_waitLimit, mayGo);
}

bool ApplicationLock::Lock() {
  std::unique_lock held(mutex_);
  if (!WaitFor(held)) return false;
  owner_ = std::this_thread::get_id();
  ++depth_;
  return true;
}

void ApplicationLock::Unlock() {
  const std::lock_guard held(mutex_);
  if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;
  if (--depth_ == 0) {
    owner_ = {};
    released_.notify_all();
  }
}

void ApplicationLock::ReleaseHeldByThisThread() {
  const std::lock_guard held(mutex_);
  if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;
  depth_ = 0;
  owner_ = {};
  released_.notify_all();
}

std::unique_lock<std::mutex> ApplicationLock::Turn() {
  std::unique_lock held(mutex_);
  if (!WaitFor(held)) held.unlock();
  return held;
}

size_t ValueStore::FindLocked(std::u16string_view name) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (SameName(entries_[i].first, name)) return i;
  }
  return entries_.size();
}

HRESULT ValueStore::Set(std::u16string_view name, const VARIANT& value) {
  if (!IsShareable(value)) return E_INVALIDARG;
  Variant copy;
  HRESULT hr = VariantCopyInd(&copy, &value);
  if (FAILED(hr)) return hr;
  Variant replaced;  // released after the lock
  try {
    const std::lock_guard held(mutex_);
    const size_t at = FindLocked(name);
    if (at < entries_.size()) {
      replaced = std::exchange(entries_[at].second, std::move(copy));
    } else {
      entries_.emplace_back(std::u16string(name), std::move(copy));
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT ValueStore::Get(std::u16string_view name, VARIANT* value) const {
  if (value == nullptr) return E_POINTER;
  const std::lock_guard held(mutex_);
  VariantClear(value);
  const size_t at = FindLocked(name);
  return at < entries_.size() ? VariantCopy(value, &entries_[at].second) : S_OK;
}

HRESULT ValueStore::GetAt(size_t index, VARIANT* value) const {
  if (value == nullptr) return E_POINTER;
  const std::lock_guard held(mutex_);
  if (index >= entries_.size()) return DISP_E_BADINDEX;
  return VariantCopy(value, &entries_[index].second);
}

std::optional<std::u16string> ValueStore::NameAt(size_t index) const {
  const std::lock_guard held(mutex_);
  if (index >= entries_.size()) return std::nullopt;
  return entries_[index].first;
}

size_t ValueStore::Count() const {
  const std::lock_guard held(mutex_);
  return entries_.size();
}

void ValueStore::Remove(std::u16string_view name) {
  Entry removed;
  const std::lock_guard held(mutex_);
  const size_t at = FindLocked(name);
  if (at == entries_.size()) return;
  removed = std::move(entries_[at]);
  entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(at));
}

void ValueStore::RemoveAt(size_t index) {
  Entry removed;
  const std::lock_guard held(mutex_);
  if (index >= entries_.size()) return;
  removed = std::move(entries_[index]);
  entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(index));
}

void ValueStore::RemoveAll() {
  std::vector<Entry> removed;
  const std::lock_guard held(mutex_);
  removed.swap(entries_);
}

std::vector<std::u16string> ValueStore::Names() const {
  const std::lock_guard held(mutex_);
  std::vector<std::u16string> names;
  for (const Entry& entry : entries_) names.push_back(entry.first);
  return names;
}

bool SessionState::TakeTurn(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock held(turnMutex_);
  if (!turnFree_.wait_until(held, deadline, [this] { return !pageRunning_; })) return false;
  pageRunning_ = true;
  return true;
}

void SessionState::GiveTurn() {
  {
    const std::lock_guard held(turnMutex_);
    pageRunning_ = false;
  }
  turnFree_.notify_one();
}

std::shared_ptr<SessionState> SessionTable::Use(const std::string& id) {
  const std::lock_guard held(mutex_);
  const auto found = sessions_.find(id);
  if (found == sessions_.end() || found->second->Abandoned()) return nullptr;
  SessionState& session = *found->second;
  const auto now = std::chrono::steady_clock::now();
  if (session.requests_ == 0 && now - session.lastUse_ >= session.Timeout()) return nullptr;
  ++session.requests_;
  session.lastUse_ = now;
  return found->second;
}

std::shared_ptr<SessionState> SessionTable::Start(
    std::vector<std::shared_ptr<SessionState>>* ended) {
  std::optional<std::string> id = NewSessionId();
  if (!id) return nullptr;
  auto session = std::make_shared<SessionState>(*id, timeout_);
  session->requests_ = 1;
  const std::lock_guard held(mutex_);
  if (sessions_.size() >= maxSessions_) {
    auto oldest = sessions_.end();
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      if (it->second->requests_ == 0 &&
          (oldest == sessions_.end() || it->second->lastUse_ < oldest->second->lastUse_)) {
        oldest = it;
      }
    }
    if (oldest == sessions_.end()) return nullptr;
    ended->push_back(oldest->second);
    sessions_.erase(oldest);
  }
  sessions_.emplace(*id, session);
  return session;
}

std::shared_ptr<SessionState> SessionTable::Done(const std::shared_ptr<SessionState>& session) {
  const std::lock_guard held(mutex_);
  if (--session->requests_ < 0) session->requests_ = 0;
  session->lastUse_ = std::chrono::steady_clock::now();
  if (!session->Abandoned() || session->requests_ > 0) return nullptr;
  const auto found = sessions_.find(session->Id());
  if (found == sessions_.end() || found->second != session) return nullptr;
  sessions_.erase(found);
  return session;
}

std::vector<std::shared_ptr<SessionState>> SessionTable::TakeExpired() {
  std::vector<std::shared_ptr<SessionState>> expired;
  const auto now = std::chrono::steady_clock::now();
  const std::lock_guard held(mutex_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    SessionState& session = *it->second;
    if (session.requests_ == 0 &&
        (session.Abandoned() || now - session.lastUse_ >= session.Timeout())) {
      expired.push_back(it->second);
      it = sessions_.erase(it);
    } else {
      ++it;
    }
  }
  return expired;
}

std::vector<std::shared_ptr<SessionState>> SessionTable::TakeAll() {
  std::vector<std::shared_ptr<SessionState>> all;
  const std::lock_guard held(mutex_);
  for (auto& [id, session] : sessions_) all.push_back(session);
  sessions_.clear();
  return all;
}

size_t SessionTable::Count() const {
  const std::lock_guard held(mutex_);
  return sessions_.size();
}

std::optional<std::string> NewSessionId() {
  unsigned char bits[16];
  size_t got = 0;
  while (got < sizeof bits) {
    const ssize_t n = getrandom(bits + got, sizeof bits - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    got += static_cast<size_t>(n);
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string id;
  for (const unsigned char byte : bits) {
    id += kDigits[byte >> 4];
    id += kDigits[byte & 15];
  }
  return id;
}

ComPtr<IPageContents> MakeContents(std::shared_ptr<ValueStore> store,
                                   std::shared_ptr<ApplicationLock> lock) {
  const ComPtr<ContentsObject> made = MakeObject<ContentsObject, IPageContents>();
  if (!made) return nullptr;
  made->store = std::move(store);
  made->lock = std::move(lock);
  return ComPtr<IPageContents>(made.Get());
}

ComPtr<IPageApplication> MakeApplication(std::shared_ptr<ValueStore> store,
                                         std::shared_ptr<ApplicationLock> lock) {
  const ComPtr<ApplicationObject> made = MakeObject<ApplicationObject, IPageApplication>();
  if (!made) return nullptr;
  made->contents = MakeContents(std::move(store), lock);
  made->lock = std::move(lock);
  if (!made->contents) return nullptr;
  return ComPtr<IPageApplication>(made.Get());
}

ComPtr<IPageSession> MakeSessionObject(std::shared_ptr<const PageScope> scope,
                                       SessionSource* source) {
  const ComPtr<SessionObject> made = MakeObject<SessionObject, IPageSession>();
  if (!made) return nullptr;
  made->Attach(std::move(scope), source);
  return ComPtr<IPageSession>(made.Get());
}

}  // namespace pages
