#include "host/engine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "host/forwarded.h"
#include "host/page_exchange.h"
#include "host/request_target.h"
#include "host/status_pages.h"
#include "platform/kernel/file_descriptor.h"

namespace host {

// What the engine keeps about one request, from its head to its completion.
struct RequestState {
  Connection* connection = nullptr;
  Clock::time_point start;
  AccessEntry log;             // what the access log says of the request, filled in as it goes
  RequestRecord record;        // handed over to the page, if the request is for one
  int status = 0;              // of a response of our own
  uint64_t fixedBytes = 0;     // its body, sent whole when the request completes
  uint64_t streamedBytes = 0;  // of a file, as the engine took them
  // The body as it arrives.
  MHD_PostProcessor* form = nullptr;
  bool formBroken = false;
  bool tooLarge = false;
  uint64_t discarded = 0;
  // A page's response.
  std::shared_ptr<PageExchange> exchange;
  // A response of our own made before the request was complete, queued once it is (a
  // response queued earlier would end the connection).
  bool beginning = false;
  MHD_Response* prepared = nullptr;

  ~RequestState() {
    if (form != nullptr) MHD_destroy_post_processor(form);
    if (prepared != nullptr) MHD_destroy_response(prepared);
  }
};

namespace {

constexpr int kRetryAfterSeconds = 5;
constexpr size_t kFormBuffer = 64 * 1024;
constexpr size_t kFileBlock = 64 * 1024;

std::string AddressText(const sockaddr* address, uint16_t* port) {
  char text[INET6_ADDRSTRLEN] = {};
  *port = 0;
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    *port = ntohs(v4->sin_port);
  } else if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    *port = ntohs(v6->sin6_port);
    // An IPv4 client of a dual-stack socket, as its plain IPv4 address.
    if (std::string_view(text).starts_with("::ffff:") &&
        std::string_view(text).find('.') != std::string_view::npos) {
      return std::string(text + 7);
    }
  }
  return text;
}

Connection* ConnectionOf(MHD_Connection* mhd) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(mhd, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info != nullptr ? static_cast<Connection*>(info->socket_context) : nullptr;
}

std::string Lowercase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return lower;
}

MHD_Result CollectHeader(void* record, MHD_ValueKind, const char* name, const char* value) {
  static_cast<RequestRecord*>(record)->headers.emplace_back(Lowercase(name),
                                                            value != nullptr ? value : "");
  return MHD_YES;
}

// A form value, or a piece of one, from the engine's form parser.
MHD_Result CollectFormValue(void* state, MHD_ValueKind, const char* name, const char* fileName,
                            const char* contentType, const char*, const char* data, uint64_t offset,
                            size_t size) {
  RequestRecord& record = static_cast<RequestState*>(state)->record;
  const std::string_view piece(data != nullptr ? data : "", data != nullptr ? size : 0);
  if (fileName != nullptr) {
    if (offset == 0 || record.files.empty()) {
      std::string_view plain = fileName;  // no folders, whatever the client sent
      plain = plain.substr(plain.find_last_of("/\\") + 1);
      record.files.push_back(
          {name, std::string(plain), contentType != nullptr ? contentType : "", ""});
    }
    record.files.back().bytes.append(piece);
  } else if (offset == 0 || record.form.empty()) {
    record.form.emplace_back(name, std::string(piece));
  } else {
    record.form.back().second.append(piece);
  }
  return MHD_YES;
}

bool IsFormType(std::string_view type) {
  type = type.substr(0, type.find(';'));
  const std::string lower = Lowercase(type);
  return lower.find("application/x-www-form-urlencoded") != std::string::npos ||
         lower.find("multipart/form-data") != std::string::npos;
}

// A file's bytes as the engine asks for them.
struct FileBody {
  FileDescriptor file;
  uint64_t offset = 0;
  RequestState* state = nullptr;  // counts what went out; lives as long as the request
};

ssize_t ReadFileBody(void* body, uint64_t position, char* buffer, size_t room) {
  auto* file = static_cast<FileBody*>(body);
  while (true) {
    const ssize_t got = pread(file->file.Get(), buffer, std::min(room, kFileBlock),
                              static_cast<off_t>(file->offset + position));
    if (got < 0 && errno == EINTR) continue;
    // A file that shrank while it was sent leaves the response short; the client sees that.
    if (got <= 0) return MHD_CONTENT_READER_END_WITH_ERROR;
    file->state->streamedBytes += static_cast<uint64_t>(got);
    return got;
  }
}

void FreeFileBody(void* body) { delete static_cast<FileBody*>(body); }

// The body of a 304, which the engine never asks for.
ssize_t NoBody(void*, uint64_t, char*, size_t) { return MHD_CONTENT_READER_END_WITH_ERROR; }

bool ParseBindAddress(const std::string& text, unsigned port, sockaddr_storage* address, bool* v6) {
  std::string plain = text;
  if (plain.size() > 2 && plain.front() == '[' && plain.back() == ']') {
    plain = plain.substr(1, plain.size() - 2);
  }
  auto* v4address = reinterpret_cast<sockaddr_in*>(address);
  if (inet_pton(AF_INET, plain.c_str(), &v4address->sin_addr) == 1) {
    v4address->sin_family = AF_INET;
    v4address->sin_port = htons(static_cast<uint16_t>(port));
    *v6 = false;
    return true;
  }
  auto* v6address = reinterpret_cast<sockaddr_in6*>(address);
  if (inet_pton(AF_INET6, plain.c_str(), &v6address->sin6_addr) == 1) {
    v6address->sin6_family = AF_INET6;
    v6address->sin6_port = htons(static_cast<uint16_t>(port));
    *v6 = true;
    return true;
  }
  return false;
}

}  // namespace

Engine::Engine(const HostOptions& options, PageHandler& pages, LogFile& accessLog,
               LogFile& errorLog)
    : options_(options), pages_(pages), accessLog_(accessLog), errors_(errorLog) {}

Engine::~Engine() {
  if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
}

bool Engine::Start(std::string* error) {
  char site[PATH_MAX];
  if (realpath(options_.site.c_str(), site) == nullptr) {
    *error = "cannot find the site folder " + options_.site;
    return false;
  }
  std::vector<std::string> hidden;
  char config[PATH_MAX];
  if (!options_.configFile.empty() && realpath(options_.configFile.c_str(), config) != nullptr) {
    hidden.emplace_back(config);
  }
  files_ = std::make_unique<SiteFiles>(site, options_.deny, std::move(hidden));
  indexNames_ = pages_.IndexNames();
  indexNames_.emplace_back("index.html");

  sockaddr_storage address{};
  bool v6 = false;
  if (!ParseBindAddress(options_.bind, options_.port, &address, &v6)) {
    *error = "not an IPv4 or IPv6 address: " + options_.bind;
    return false;
  }
  if (!pages_.Start(*this, error)) return false;
  pagesStarted_ = true;

  table_ = std::make_unique<ConnectionTable>(
      ConnectionLimits{
          std::chrono::seconds(options_.keepAliveTimeout),
          std::chrono::seconds(options_.headTimeout), std::chrono::seconds(options_.bodyTimeout),
          std::chrono::seconds(options_.sendTimeout), options_.maxConnectionsPerAddress},
      [this](const std::string& line) { errors_.Write("limit", line); });
  workers_ = std::make_unique<WorkerPool>(options_.workers, options_.backlog);

  const bool pool = options_.connectionThreads == "pool";
  unsigned flags = MHD_USE_ERROR_LOG;
  if (pool) {
    flags |= MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
  } else {
    flags |= MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL |
             MHD_USE_ITC;
  }
  if (v6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
    flags |= IN6_IS_ADDR_UNSPECIFIED(&in6.sin6_addr) ? MHD_USE_DUAL_STACK : MHD_USE_IPv6;
  }
  using Item = MHD_OptionItem;
  auto pointer = [](auto function) { return reinterpret_cast<intptr_t>(function); };
  // Room for the longest head we accept and the response's own head beside it.
  const size_t memory = static_cast<size_t>(options_.maxHeadBytes) * 2 + 32 * 1024;
  std::vector<Item> items = {
      {MHD_OPTION_EXTERNAL_LOGGER, pointer(&Engine::OnEngineMessage), this},
      {MHD_OPTION_NOTIFY_CONNECTION, pointer(&Engine::OnConnection), this},
      {MHD_OPTION_NOTIFY_COMPLETED, pointer(&Engine::OnCompleted), this},
      {MHD_OPTION_URI_LOG_CALLBACK, pointer(&Engine::OnRequestLine), this},
      {MHD_OPTION_SOCK_ADDR, 0, &address},
      {MHD_OPTION_CONNECTION_LIMIT, options_.maxConnections, nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(IdleBackstop()), nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(memory), nullptr},
  };
  if (pool && options_.engineThreads > 1) {
    items.push_back({MHD_OPTION_THREAD_POOL_SIZE, options_.engineThreads, nullptr});
  }
  items.push_back({MHD_OPTION_END, 0, nullptr});
  daemon_ =
      MHD_start_daemon(flags, static_cast<uint16_t>(options_.port), &Engine::OnAccept, this,
                       &Engine::OnRequest, this, MHD_OPTION_ARRAY, items.data(), MHD_OPTION_END);
  if (daemon_ == nullptr) {
    *error = "cannot listen on " + options_.bind + " port " + std::to_string(options_.port);
    return false;
  }
  const MHD_DaemonInfo* bound = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  const std::string port = std::to_string(bound != nullptr ? bound->port : options_.port);
  std::string shown = options_.bind;
  if (v6 && !shown.starts_with('[')) shown = "[" + shown + "]";
  url_ = "http://" + shown + ":" + port + "/";
  return true;
}

// The table holds connections to their deadlines; the engine's own idle timer is a
// backstop beyond them.
unsigned Engine::IdleBackstop() const {
  return options_.keepAliveTimeout + options_.headTimeout + 5;
}

void Engine::BeginStop() {
  stopping_ = true;
  const MHD_socket listener = MHD_quiesce_daemon(daemon_);
  if (listener != MHD_INVALID_SOCKET) {
    // Stops the listening at once, even while an engine thread still waits on the socket.
    shutdown(listener, SHUT_RDWR);
    close(listener);
  }
  table_->BeginStop();
}

bool Engine::Idle() { return requests_ == 0 && !table_->HeadsUnderWay(); }

bool Engine::Finish() {
  if (!workers_->WaitIdle(Clock::now())) return false;
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  workers_.reset();
  if (pagesStarted_) pages_.Stop();
  pagesStarted_ = false;
  return true;
}

std::string Engine::LogScriptFailure(const RequestRecord& request, const ScriptFailure& failure) {
  return errors_.ScriptFailure(request, failure);
}

void Engine::LogError(std::string_view message) { errors_.Write("error", message); }

// ---- the engine's callbacks

MHD_Result Engine::OnAccept(void* self, const sockaddr* address, socklen_t) {
  uint16_t port = 0;
  return static_cast<Engine*>(self)->table_->Admit(AddressText(address, &port)) ? MHD_YES : MHD_NO;
}

void Engine::OnConnection(void* self, MHD_Connection* mhd, void** context,
                          MHD_ConnectionNotificationCode code) {
  ConnectionTable& table = *static_cast<Engine*>(self)->table_;
  if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
    if (*context != nullptr) table.Closed(static_cast<Connection*>(*context));
    *context = nullptr;
    return;
  }
  const MHD_ConnectionInfo* socket =
      MHD_get_connection_info(mhd, MHD_CONNECTION_INFO_CONNECTION_FD);
  const MHD_ConnectionInfo* client =
      MHD_get_connection_info(mhd, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (socket == nullptr || client == nullptr) return;
  // Without a record (out of memory) the connection's first request closes it.
  try {
    uint16_t port = 0;
    std::string address = AddressText(client->client_addr, &port);
    Connection* connection = table.Opened(socket->connect_fd, std::move(address), port);
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(socket->connect_fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
      connection->localAddress =
          AddressText(reinterpret_cast<sockaddr*>(&local), &connection->localPort);
    }
    *context = connection;
  } catch (const std::exception&) {
  }
}

void* Engine::OnRequestLine(void* self, const char* uri, MHD_Connection* mhd) {
  try {
    if (Connection* connection = ConnectionOf(mhd)) {
      static_cast<Engine*>(self)->table_->SawRequestLine(connection, uri != nullptr ? uri : "");
    }
  } catch (const std::exception&) {  // out of memory: the head time-out still applies
  }
  return nullptr;
}

void Engine::OnEngineMessage(void* self, const char* format, va_list arguments) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, arguments);
  std::string_view line = text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  static_cast<Engine*>(self)->errors_.Write("engine", line);
}

MHD_Result Engine::OnRequest(void* self, MHD_Connection* mhd, const char*, const char* method,
                             const char* version, const char* data, size_t* size, void** context) {
  Engine& engine = *static_cast<Engine*>(self);
  // Nothing may unwind into the engine: a request that throws loses its connection.
  try {
    return engine.Continue(mhd, method, version, data, size, context);
  } catch (const std::exception& error) {
    engine.errors_.Write("error", std::string("a request failed: ") + error.what());
  }
  return MHD_NO;
}

MHD_Result Engine::Continue(MHD_Connection* mhd, const char* method, const char* version,
                            const char* data, size_t* size, void** context) {
  auto* state = static_cast<RequestState*>(*context);
  if (state == nullptr) {
    state = new RequestState;
    *context = state;
    ++requests_;
    state->beginning = true;
    const MHD_Result result = BeginRequest(mhd, *state, method, version);
    state->beginning = false;
    return result;
  }
  if (*size > 0) {
    const MHD_Result result = ReceiveBody(*state, data, *size);
    *size = 0;
    return result;
  }
  if (state->prepared != nullptr) {
    MHD_Response* response = std::exchange(state->prepared, nullptr);
    const MHD_Result result =
        MHD_queue_response(mhd, static_cast<unsigned>(state->status), response);
    MHD_destroy_response(response);
    return result;
  }
  if (state->exchange == nullptr) return RunPage(mhd, *state);
  return QueuePage(mhd, *state);
}

void Engine::OnCompleted(void* self, MHD_Connection* mhd, void** context,
                         MHD_RequestTerminationCode code) {
  static_cast<Engine*>(self)->Completed(mhd, static_cast<RequestState*>(*context), code);
  *context = nullptr;
}

// ---- one request

MHD_Result Engine::BeginRequest(MHD_Connection* mhd, RequestState& state, const char* method,
                                const char* version) {
  state.log.time = std::chrono::system_clock::now();
  state.start = Clock::now();
  state.connection = ConnectionOf(mhd);
  if (state.connection == nullptr) return MHD_NO;
  Connection& connection = *state.connection;
  RequestRecord& record = state.record;
  record.method = method;
  record.protocol = version;
  record.target = connection.target;
  record.remoteAddress = connection.address;
  record.remotePort = connection.port;
  record.localAddress = connection.localAddress;
  record.localPort = connection.localPort;
  MHD_get_connection_values(mhd, MHD_HEADER_KIND, &CollectHeader, &record);
  ApplyForwardedHeaders(options_.trustedProxies, &record);
  state.log.client = record.remoteAddress;
  state.log.requestLine = record.method + " " + record.target + " " + record.protocol;
  state.log.referer = record.Header("referer").value_or("-");
  state.log.userAgent = record.Header("user-agent").value_or("-");
  if (!table_->Enter(&connection, Phase::kReceiving)) return MHD_NO;
  // While a request is under way the table alone holds it to its deadlines.
  MHD_set_connection_option(mhd, MHD_CONNECTION_OPTION_TIMEOUT, 0u);

  const bool token =
      !record.method.empty() && std::all_of(record.method.begin(), record.method.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
      });
  if (!token) return Answer(mhd, state, 400, "The request method is malformed.");
  uint64_t headBytes = state.log.requestLine.size() + 2;
  for (const auto& [name, value] : record.headers) headBytes += name.size() + value.size() + 4;
  if (headBytes > options_.maxHeadBytes) {
    errors_.Write("limit", "431: the request head from " + record.remoteAddress + " has " +
                               std::to_string(headBytes) + " bytes");
    return Answer(mhd, state, 431, "The request head is too large.");
  }
  return Route(mhd, state);
}

MHD_Result Engine::Route(MHD_Connection* mhd, RequestState& state) {
  RequestRecord& record = state.record;
  std::optional<RequestTarget> target = SplitTarget(record.target);
  if (!target) return Answer(mhd, state, 400, "The request target is malformed.");
  record.path = std::move(target->path);
  record.query = std::move(target->query);
  const std::optional<std::string> relative = SiteRelativePath(record.path);
  if (!relative) return Answer(mhd, state, 403, "The path leaves the site.");
  const SiteEntry entry = files_->Resolve(*relative, record.path.ends_with('/'), indexNames_);
  switch (entry.kind) {
    case SiteEntry::Kind::kMissing:
      return Answer(mhd, state, 404, "There is no such page or file.");
    case SiteEntry::Kind::kOutside:
      return Answer(mhd, state, 403, "The path leaves the site.");
    case SiteEntry::Kind::kFolder: {
      // Built from the path as resolved, so that "//host" cannot lead off the site.
      std::string location = "/" + *relative + "/";
      if (record.target.find('?') != std::string::npos) location += "?" + record.query;
      return Answer(mhd, state, 301, "The folder is at " + location + ".",
                    {{"Location", location}});
    }
    case SiteEntry::Kind::kFile:
      break;
  }
  if (pages_.IsPage(entry.realPath)) return PreparePage(mhd, state, entry);
  return SendFile(mhd, state, entry);
}

MHD_Result Engine::SendFile(MHD_Connection* mhd, RequestState& state, const SiteEntry& entry) {
  const RequestRecord& record = state.record;
  if (record.method != "GET" && record.method != "HEAD") {
    return Answer(mhd, state, 405, "Files are sent for GET and HEAD only.",
                  {{"Allow", "GET, HEAD"}});
  }
  FileDescriptor file(open(entry.realPath.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (file.Get() < 0 || fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return Answer(mhd, state, 404, "There is no such page or file.");
  }
  const FileValidators validators = ValidatorsOf(status);
  const FileAnswer answer = AnswerFor(record, validators);
  MHD_Response* response = nullptr;
  if (answer.status == 200 || answer.status == 206) {
    auto* body = new FileBody{FileDescriptor(file.Release()), answer.offset, &state};
    response = MHD_create_response_from_callback(answer.length, kFileBlock, &ReadFileBody, body,
                                                 &FreeFileBody);
    if (response == nullptr) delete body;
  } else if (answer.status == 304) {
    // No body, but the length the engine states is the file's, as a 200 would state it.
    response =
        MHD_create_response_from_callback(validators.size, kFileBlock, &NoBody, nullptr, nullptr);
  } else {
    response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  }
  if (response == nullptr) return MHD_NO;
  if (answer.status != 304) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                            contentTypes_.For(entry.realPath).c_str());
  }
  MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, validators.etag.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_LAST_MODIFIED, validators.lastModified.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
  if (!answer.contentRange.empty()) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE, answer.contentRange.c_str());
  }
  return Queue(mhd, state, answer.status, response);
}

MHD_Result Engine::PreparePage(MHD_Connection* mhd, RequestState& state, const SiteEntry& entry) {
  RequestRecord& record = state.record;
  record.scriptFile = entry.realPath;
  record.scriptName = entry.sitePath;
  if (const auto length = record.Header("content-length")) {
    const std::optional<uint64_t> bytes =
        length->size() <= 19 && !length->empty() &&
                length->find_first_not_of("0123456789") == std::string_view::npos
            ? std::optional<uint64_t>(std::strtoull(std::string(*length).c_str(), nullptr, 10))
            : std::nullopt;
    if (bytes && *bytes > options_.maxBodyBytes) {
      errors_.Write("limit", "413: " + record.remoteAddress + " announced a body of " +
                                 std::to_string(*bytes) + " bytes for " + record.target);
      return Answer(mhd, state, 413, "The request body is too large.");
    }
  }
  if (const auto type = record.Header("content-type"); type && IsFormType(*type)) {
    state.form = MHD_create_post_processor(mhd, kFormBuffer, &CollectFormValue, &state);
  }
  return MHD_YES;  // the body comes next, then RunPage
}

MHD_Result Engine::ReceiveBody(RequestState& state, const char* data, size_t size) {
  RequestRecord& record = state.record;
  if (!state.tooLarge && size > options_.maxBodyBytes - record.body.size()) {
    state.tooLarge = true;
    errors_.Write("limit", "413: the request body from " + record.remoteAddress + " for " +
                               record.target + " passed " + std::to_string(options_.maxBodyBytes) +
                               " bytes");
    record.body.clear();
    record.body.shrink_to_fit();
    record.form.clear();
    record.files.clear();
  }
  if (state.tooLarge) {
    // Read on (so the client can take the 413) for a while, not for ever.
    state.discarded += size;
    return state.discarded <= std::max<uint64_t>(options_.maxBodyBytes, 1 << 20) ? MHD_YES : MHD_NO;
  }
  record.body.append(data, size);
  if (state.form != nullptr && !state.formBroken &&
      MHD_post_process(state.form, data, size) != MHD_YES) {
    state.formBroken = true;
  }
  return MHD_YES;
}

MHD_Result Engine::RunPage(MHD_Connection* mhd, RequestState& state) {
  if (state.tooLarge) return Answer(mhd, state, 413, "The request body is too large.");
  if (state.form != nullptr) {
    const bool complete = MHD_destroy_post_processor(state.form) == MHD_YES;
    state.form = nullptr;
    if (state.formBroken || !complete) {
      return Answer(mhd, state, 400, "The form data in the request body is malformed.");
    }
  }
  if (!table_->Enter(state.connection, Phase::kRunning)) return MHD_NO;
  PageExchange::Setting setting;
  setting.mhd = mhd;
  setting.connection = state.connection;
  setting.table = table_.get();
  setting.suspendable = options_.connectionThreads == "pool";
  setting.headOnly = state.record.method == "HEAD";
  setting.stopping = &stopping_;
  setting.sendTimeout = std::chrono::seconds(options_.sendTimeout);
  auto exchange = std::make_shared<PageExchange>(setting);
  // The request goes to the worker; the engine keeps what it logs.
  auto request = std::make_shared<RequestRecord>(std::move(state.record));
  const bool queued = workers_->Submit([this, request, exchange] {
    try {
      pages_.Serve(*request, *exchange);
    } catch (const std::exception& error) {
      errors_.Write("error", "the page " + request->scriptName + " failed: " + error.what());
    } catch (...) {
      errors_.Write("error", "the page " + request->scriptName + " failed");
    }
    exchange->PageReturned();
  });
  if (!queued) {
    state.record = std::move(*request);
    errors_.Write("limit", "503: every worker is busy and " + std::to_string(options_.backlog) +
                               " requests wait; refused " + state.log.requestLine + " from " +
                               state.log.client);
    return Answer(mhd, state, 503, "The server is busy; try again shortly.",
                  {{"Retry-After", std::to_string(kRetryAfterSeconds)}});
  }
  state.exchange = std::move(exchange);
  return QueuePage(mhd, state);
}

MHD_Result Engine::QueuePage(MHD_Connection* mhd, RequestState& state) {
  bool suspended = false;
  MHD_Response* response = state.exchange->TakeResponse(state.exchange, &suspended);
  if (suspended) return MHD_YES;
  if (response == nullptr) return MHD_NO;
  const MHD_Result result =
      MHD_queue_response(mhd, static_cast<unsigned>(state.exchange->Status()), response);
  MHD_destroy_response(response);
  return result;
}

MHD_Result Engine::Answer(MHD_Connection* mhd, RequestState& state, int status,
                          std::string_view detail, const NameValueList& headers) {
  const std::string page = StatusPage(status, detail);
  MHD_Response* response = MHD_create_response_from_buffer(
      page.size(), const_cast<char*>(page.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/html; charset=utf-8");
  for (const auto& [name, value] : headers) {
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  if (state.record.method != "HEAD") state.fixedBytes = page.size();
  return Queue(mhd, state, status, response);
}

MHD_Result Engine::Queue(MHD_Connection* mhd, RequestState& state, int status,
                         MHD_Response* response) {
  if (stopping_) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  state.status = status;
  table_->Enter(state.connection, Phase::kSending);
  const RequestRecord& record = state.record;
  const bool withBody = record.Header("transfer-encoding").has_value() ||
                        record.Header("content-length").value_or("0") != "0";
  if (state.beginning && !withBody) {
    state.prepared = response;  // queued when the engine calls again, at once
    return MHD_YES;
  }
  const MHD_Result result = MHD_queue_response(mhd, static_cast<unsigned>(status), response);
  MHD_destroy_response(response);
  return result;
}

void Engine::Completed(MHD_Connection* mhd, RequestState* state, MHD_RequestTerminationCode code) {
  if (state == nullptr) return;
  AccessEntry& entry = state->log;
  entry.duration = Clock::now() - state->start;
  if (state->exchange != nullptr) {
    state->exchange->EngineDone();
    entry.status = state->exchange->Status();
    entry.bytes = state->exchange->BytesSent();
  } else {
    entry.status = state->status;
    entry.bytes = state->streamedBytes +
                  (code == MHD_REQUEST_TERMINATED_COMPLETED_OK ? state->fixedBytes : 0);
  }
  if (state->connection != nullptr) {
    if (const int cut = table_->CutStatus(state->connection); cut != 0 && entry.status == 0) {
      entry.status = cut;
    }
    table_->Enter(state->connection, Phase::kWaiting);
  }
  // No response at all: the client left first (recorded as 499, as proxies do).
  if (entry.status == 0) entry.status = 499;
  try {
    if (accessLog_.Enabled()) accessLog_.WriteLine(AccessLine(entry));
  } catch (const std::exception&) {  // out of memory: the line is lost, not the host
  }
  delete state;
  --requests_;
  MHD_set_connection_option(mhd, MHD_CONNECTION_OPTION_TIMEOUT, IdleBackstop());
}

}  // namespace host
