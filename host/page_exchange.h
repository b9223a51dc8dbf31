// One page's response on its way from the worker that runs the page to the engine
// thread that sends it. The worker writes through the ResponseSink side; the engine
// queues the response once its head is known and then pulls the body as the client
// takes it. The body waits in a bounded buffer: a page that writes faster than the
// client reads waits (up to the send timeout), and an engine thread that finds no
// bytes yet either suspends the connection (engine thread pool) or waits (a thread per
// connection).
#pragma once

#include <microhttpd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "host/connection_table.h"
#include "host/exchange.h"

namespace host {

class PageExchange final : public ResponseSink {
 public:
  struct Setting {
    MHD_Connection* mhd = nullptr;
    Connection* connection = nullptr;
    ConnectionTable* table = nullptr;
    bool suspendable = true;  // the engine runs a thread pool (else a thread per connection)
    bool headOnly = false;
    const std::atomic<bool>* stopping = nullptr;  // responses then end their connections
    std::chrono::seconds sendTimeout{60};
  };
  explicit PageExchange(const Setting& setting) : setting_(setting) {}

  // The ResponseSink, for the page's thread.
  bool SendHead(int status, std::string_view reason, const NameValueList& headers,
                std::optional<uint64_t> length) override;
  bool SendBody(std::string_view bytes) override;
  void Finish() override;
  bool ClientConnected() const override;
  bool HeadOnly() const override { return setting_.headOnly; }

  // After the page's Serve returned: a response never begun gets a 500 page, one never
  // finished is broken off.
  void PageReturned();

  // For the engine's access handler, on its thread. The response to queue once the
  // head is known (and, for a response of known length, its first bytes); until then
  // the connection is suspended (nullptr with `suspended`) or the call waits. Nullptr
  // alone when the engine cannot make a response.
  MHD_Response* TakeResponse(const std::shared_ptr<PageExchange>& self, bool* suspended);
  // The engine is done with the request (it completed, failed or the client left).
  void EngineDone();

  int Status() const;
  uint64_t BytesSent() const;

 private:
  struct Head {
    int status = 200;
    NameValueList headers;
    std::optional<uint64_t> length;
  };

  static ssize_t Read(void* self, uint64_t position, char* buffer, size_t room);
  static void Release(void* self);
  ssize_t ReadLocked(std::unique_lock<std::mutex>& lock, char* buffer, size_t room);
  bool ReadyLocked() const;
  size_t PendingLocked() const { return pending_.size() - taken_; }
  // Whether the engine should look at the response again now; the caller then calls
  // MHD_resume_connection once it let go of the lock.
  bool WakeEngineLocked();
  bool BreakOffLocked();

  const Setting setting_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Head> head_;
  std::string pending_;  // body bytes; the first taken_ of them went to the engine
  size_t taken_ = 0;
  uint64_t written_ = 0;  // body bytes the page wrote
  uint64_t sent_ = 0;     // body bytes handed to the engine
  bool queued_ = false;   // the engine queued the response
  bool suspended_ = false;
  bool finished_ = false;
  bool brokenOff_ = false;
  bool engineDone_ = false;
};

}  // namespace host
