#include "host/page_exchange.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "host/status_pages.h"

namespace host {

namespace {

// How far a page may write ahead of the client.
constexpr size_t kHighWater = 256 * 1024;
// The most the engine takes from the buffer at once.
constexpr size_t kBlockSize = 64 * 1024;

void Resume(MHD_Connection* connection, bool wake) {
  if (wake) MHD_resume_connection(connection);
}

}  // namespace

bool PageExchange::WakeEngineLocked() {
  if (!suspended_ || !(queued_ || ReadyLocked())) return false;
  suspended_ = false;
  return true;
}

bool PageExchange::BreakOffLocked() {
  brokenOff_ = true;
  changed_.notify_all();
  if (!suspended_) return false;
  suspended_ = false;
  return true;
}

// The engine may queue the response: the head is known, and a response of known
// length has its first bytes in (so a small page goes out in one piece).
bool PageExchange::ReadyLocked() const {
  if (!head_) return false;
  if (finished_ || brokenOff_ || !head_->length || setting_.headOnly) return true;
  return PendingLocked() >= std::min<uint64_t>(*head_->length, kHighWater);
}

bool PageExchange::SendHead(int status, std::string_view, const NameValueList& headers,
                            std::optional<uint64_t> length) {
  bool wake = false;
  {
    const std::lock_guard lock(mutex_);
    if (head_ || engineDone_ || brokenOff_) return false;
    head_ = Head{status, headers, length};
    changed_.notify_all();
    wake = WakeEngineLocked();
  }
  Resume(setting_.mhd, wake);
  return true;
}

bool PageExchange::SendBody(std::string_view bytes) {
  bool wake = false;
  bool taken = false;
  {
    std::unique_lock lock(mutex_);
    if (!head_ || finished_ || engineDone_ || brokenOff_) return false;
    if (setting_.headOnly || bytes.empty()) return true;
    if (head_->length && bytes.size() > *head_->length - written_) {
      wake = BreakOffLocked();  // more than the length the head promised
    } else {
      const Clock::time_point deadline = Clock::now() + setting_.sendTimeout;
      const bool room = changed_.wait_until(lock, deadline, [this] {
        return PendingLocked() < kHighWater || engineDone_ || brokenOff_;
      });
      if (engineDone_ || brokenOff_) return false;
      if (!room) {
        setting_.table->Cut(setting_.connection,
                            "cut the connection to " + setting_.connection->address +
                                ": it took no part of a page's response for " +
                                std::to_string(setting_.sendTimeout.count()) + " s");
        wake = BreakOffLocked();
      } else {
        if (taken_ > 0 && taken_ >= pending_.size() / 2) {
          pending_.erase(0, taken_);
          taken_ = 0;
        }
        pending_.append(bytes);
        written_ += bytes.size();
        changed_.notify_all();  // an engine thread may wait for these bytes
        wake = WakeEngineLocked();
        taken = true;
      }
    }
  }
  Resume(setting_.mhd, wake);
  return taken;
}

void PageExchange::Finish() {
  bool wake = false;
  {
    const std::lock_guard lock(mutex_);
    if (!head_ || finished_ || brokenOff_) return;
    if (head_->length && written_ != *head_->length && !setting_.headOnly) {
      wake = BreakOffLocked();  // less than the length the head promised
    } else {
      finished_ = true;
      changed_.notify_all();
      wake = WakeEngineLocked();
      // The time for sending counts from here; a page may take as long as it needs.
      if (!engineDone_) setting_.table->Enter(setting_.connection, Phase::kSending);
    }
  }
  Resume(setting_.mhd, wake);
}

bool PageExchange::ClientConnected() const {
  const std::lock_guard lock(mutex_);
  if (engineDone_ || brokenOff_) return false;
  // The engine does not watch a suspended connection: look at the socket itself.
  pollfd state = {setting_.connection->socket, POLLIN | POLLRDHUP, 0};
  if (poll(&state, 1, 0) <= 0) return true;
  if ((state.revents & (POLLERR | POLLHUP | POLLRDHUP)) != 0) return false;
  char byte;
  return recv(setting_.connection->socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
}

void PageExchange::PageReturned() {
  bool begun = false;
  bool wake = false;
  {
    const std::lock_guard lock(mutex_);
    begun = head_.has_value();
    if (begun && !finished_ && !brokenOff_) wake = BreakOffLocked();
  }
  Resume(setting_.mhd, wake);
  if (!begun) SendHtmlPage(*this, 500, StatusPage(500, "The page sent no response."));
}

MHD_Response* PageExchange::TakeResponse(const std::shared_ptr<PageExchange>& self,
                                         bool* suspended) {
  std::unique_lock lock(mutex_);
  *suspended = false;
  if (!ReadyLocked()) {
    if (setting_.suspendable) {
      // Under the lock, so that a worker resumes only a connection already suspended.
      suspended_ = true;
      MHD_suspend_connection(setting_.mhd);
      *suspended = true;
      return nullptr;
    }
    changed_.wait(lock, [this] { return ReadyLocked(); });
  }
  queued_ = true;
  const uint64_t size = head_->length ? *head_->length : MHD_SIZE_UNKNOWN;
  auto* reference = new std::shared_ptr<PageExchange>(self);
  MHD_Response* response = MHD_create_response_from_callback(size, kBlockSize, &PageExchange::Read,
                                                             reference, &PageExchange::Release);
  if (response == nullptr) {
    delete reference;
    return nullptr;
  }
  for (const auto& [name, value] : head_->headers) {
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  if (setting_.stopping != nullptr && setting_.stopping->load()) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  }
  return response;
}

ssize_t PageExchange::Read(void* self, uint64_t, char* buffer, size_t room) {
  PageExchange& exchange = **static_cast<std::shared_ptr<PageExchange>*>(self);
  std::unique_lock lock(exchange.mutex_);
  return exchange.ReadLocked(lock, buffer, room);
}

void PageExchange::Release(void* self) { delete static_cast<std::shared_ptr<PageExchange>*>(self); }

ssize_t PageExchange::ReadLocked(std::unique_lock<std::mutex>& lock, char* buffer, size_t room) {
  while (true) {
    const size_t pending = PendingLocked();
    if (pending > 0) {
      const size_t count = std::min({pending, room, kBlockSize});
      std::memcpy(buffer, pending_.data() + taken_, count);
      taken_ += count;
      sent_ += count;
      changed_.notify_all();
      return static_cast<ssize_t>(count);
    }
    if (brokenOff_) return MHD_CONTENT_READER_END_WITH_ERROR;
    if (finished_) {
      return head_->length ? MHD_CONTENT_READER_END_WITH_ERROR : MHD_CONTENT_READER_END_OF_STREAM;
    }
    if (setting_.suspendable) {
      suspended_ = true;
      MHD_suspend_connection(setting_.mhd);
      return 0;
    }
    changed_.wait(lock);
  }
}

void PageExchange::EngineDone() {
  const std::lock_guard lock(mutex_);
  engineDone_ = true;
  changed_.notify_all();
}

int PageExchange::Status() const {
  const std::lock_guard lock(mutex_);
  return head_ ? head_->status : 0;
}

uint64_t PageExchange::BytesSent() const {
  const std::lock_guard lock(mutex_);
  return sent_;
}

}  // namespace host
