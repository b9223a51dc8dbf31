#include "vellum/core/entry_frame.h"

#include <memory>

#include "platform/kernel/last_error.h"
#include "platform/kernel/threads.h"

namespace vellum {

namespace {

// The library's process-wide state: the thread-local slot and the list of every
// record made, so that all of them are freed when the library unloads. Records
// live until then, as a thread may call again at any time.
class RecordList {
 public:
  static RecordList& Instance() {
    static RecordList list;
    return list;
  }

  // Leaves the platform's last error as it was: callers read it after an entry
  // fails, and finding the record must not overwrite it.
  ThreadRecord& Current() {
    const DWORD systemError = GetLastError();
    auto* record = static_cast<ListedRecord*>(TlsGetValue(slot_));
    SetLastError(systemError);
    return record != nullptr ? record->record : Create();
  }

  ~RecordList() {
    TlsFree(slot_);
    EnterCriticalSection(&guard_);
    while (head_ != nullptr) {
      ListedRecord* next = head_->next;
      delete head_;
      head_ = next;
    }
    LeaveCriticalSection(&guard_);
    DeleteCriticalSection(&guard_);
  }

  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;

 private:
  struct ListedRecord {
    ThreadRecord record;
    ListedRecord* next = nullptr;
  };

  RecordList() : slot_(TlsAlloc()) {
    if (slot_ == TLS_OUT_OF_INDEXES) throw TlsException(GetLastError());
    InitializeCriticalSection(&guard_);
  }

  ThreadRecord& Create() {
    auto record = std::make_unique<ListedRecord>();
    if (!TlsSetValue(slot_, record.get())) throw TlsException(GetLastError());
    CriticalSectionLock lock(&guard_);
    record->next = head_;
    head_ = record.release();
    return head_->record;
  }

  const DWORD slot_;
  CRITICAL_SECTION guard_;
  ListedRecord* head_ = nullptr;
};

}  // namespace

ThreadRecord& CurrentThreadRecord() { return RecordList::Instance().Current(); }

int32_t CoreLastError() { return CurrentThreadRecord().lastError; }

}  // namespace vellum
