// The host's HTTP side on libmicrohttpd: it listens, holds connections to their limits,
// sends the site's files (with validators, conditional and ranged requests), reads
// request bodies, and hands every page request to the page layer on a worker thread,
// sending what the page writes as it writes it. It logs each request and every refusal.
#pragma once

#include <microhttpd.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "host/connection_table.h"
#include "host/logs.h"
#include "host/options.h"
#include "host/page_handler.h"
#include "host/site_files.h"
#include "host/worker_pool.h"

namespace host {

struct RequestState;

class Engine final : public HostServices {
 public:
  Engine(const HostOptions& options, PageHandler& pages, LogFile& accessLog, LogFile& errorLog);
  ~Engine() override;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Checks the site, starts the page layer and listens; false with the reason.
  bool Start(std::string* error);
  // "http://ADDR:PORT/" as clients reach it.
  const std::string& Url() const { return url_; }

  // Stops accepting connections; idle ones close, and every response from now on
  // ends its connection.
  void BeginStop();
  // Whether no request is in flight (none under way, none on its way in).
  bool Idle();
  // Stops the engine and ends the page layer. False (and nothing stopped) while pages
  // are still running: the caller then leaves without them.
  bool Finish();

  bool Development() const override { return options_.development; }
  const std::string& SiteRoot() const override { return files_->Root(); }
  std::string LogScriptFailure(const RequestRecord& request, const ScriptFailure& failure) override;
  void LogError(std::string_view message) override;

 private:
  // The engine's callbacks.
  static MHD_Result OnAccept(void* self, const sockaddr* address, socklen_t length);
  static void OnConnection(void* self, MHD_Connection* connection, void** context,
                           MHD_ConnectionNotificationCode code);
  static void* OnRequestLine(void* self, const char* uri, MHD_Connection* connection);
  static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url,
                              const char* method, const char* version, const char* data,
                              size_t* size, void** context);
  static void OnCompleted(void* self, MHD_Connection* connection, void** context,
                          MHD_RequestTerminationCode code);
  static void OnEngineMessage(void* self, const char* format, va_list arguments);

  // The request's next step, as the engine calls again and again.
  MHD_Result Continue(MHD_Connection* mhd, const char* method, const char* version,
                      const char* data, size_t* size, void** context);
  MHD_Result BeginRequest(MHD_Connection* mhd, RequestState& state, const char* method,
                          const char* version);
  MHD_Result Route(MHD_Connection* mhd, RequestState& state);
  MHD_Result SendFile(MHD_Connection* mhd, RequestState& state, const SiteEntry& entry);
  MHD_Result PreparePage(MHD_Connection* mhd, RequestState& state, const SiteEntry& entry);
  MHD_Result ReceiveBody(RequestState& state, const char* data, size_t size);
  MHD_Result RunPage(MHD_Connection* mhd, RequestState& state);
  MHD_Result QueuePage(MHD_Connection* mhd, RequestState& state);
  // Queues a complete response of our own: a status page (or the given body).
  MHD_Result Answer(MHD_Connection* mhd, RequestState& state, int status, std::string_view detail,
                    const NameValueList& headers = {});
  MHD_Result Queue(MHD_Connection* mhd, RequestState& state, int status, MHD_Response* response);
  void Completed(MHD_Connection* mhd, RequestState* state, MHD_RequestTerminationCode code);
  unsigned IdleBackstop() const;

  const HostOptions options_;
  PageHandler& pages_;
  LogFile& accessLog_;
  ErrorLog errors_;
  std::vector<std::string> indexNames_;
  std::unique_ptr<SiteFiles> files_;
  ContentTypes contentTypes_;
  std::unique_ptr<ConnectionTable> table_;
  std::unique_ptr<WorkerPool> workers_;
  MHD_Daemon* daemon_ = nullptr;
  bool pagesStarted_ = false;
  std::string url_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> requests_{0};  // from their heads to their completion
};

}  // namespace host
