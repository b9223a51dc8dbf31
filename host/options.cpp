#include "host/options.h"

#include <ini.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string_view>

#include "host/forwarded.h"
#include "platform/kernel/decimal.h"

namespace host {

namespace {

// Sets an option from its text; the reason when the text does not fit.
using Setter = std::function<std::optional<std::string>(HostOptions&, std::string_view)>;
using Shower = std::function<std::string(const HostOptions&)>;

struct OptionRow {
  const char* name;
  std::string placeholder;  // empty for a switch
  const char* help;
  Setter set;
  Shower show;
};

// A decimal number, with a K, M or G suffix (powers of 1024) when `withUnits`.
std::optional<uint64_t> ParseCount(std::string_view text, bool withUnits) {
  uint64_t unit = 1;
  if (withUnits && !text.empty()) {
    const char last = text.back();
    if (last == 'K' || last == 'k') unit = uint64_t{1} << 10;
    if (last == 'M' || last == 'm') unit = uint64_t{1} << 20;
    if (last == 'G' || last == 'g') unit = uint64_t{1} << 30;
    if (unit != 1) text.remove_suffix(1);
  }
  // 12 digits keep the product with a unit within 63 bits.
  if (text.size() > 12) return std::nullopt;
  const std::optional<uint64_t> value = ParseDecimal(text);
  if (!value) return std::nullopt;
  return *value * unit;
}

std::string Range(uint64_t low, uint64_t high) {
  return "a number from " + std::to_string(low) + " to " + std::to_string(high);
}

OptionRow Number(const char* name, unsigned HostOptions::*field, unsigned low, unsigned high,
                 const char* placeholder, const char* help) {
  return {name, placeholder, help,
          [=](HostOptions& options, std::string_view text) -> std::optional<std::string> {
            const std::optional<uint64_t> value = ParseCount(text, false);
            if (!value || *value < low || *value > high) return Range(low, high);
            options.*field = static_cast<unsigned>(*value);
            return std::nullopt;
          },
          [=](const HostOptions& options) { return std::to_string(options.*field); }};
}

std::string BytesText(uint64_t bytes) {
  if (bytes != 0 && bytes % (uint64_t{1} << 20) == 0) return std::to_string(bytes >> 20) + "M";
  if (bytes != 0 && bytes % (uint64_t{1} << 10) == 0) return std::to_string(bytes >> 10) + "K";
  return std::to_string(bytes);
}

OptionRow Bytes(const char* name, uint64_t HostOptions::*field, uint64_t low, uint64_t high,
                const char* help) {
  return {name, "BYTES", help,
          [=](HostOptions& options, std::string_view text) -> std::optional<std::string> {
            const std::optional<uint64_t> value = ParseCount(text, true);
            if (!value || *value < low || *value > high) {
              return "a size from " + BytesText(low) + " to " + BytesText(high);
            }
            options.*field = *value;
            return std::nullopt;
          },
          [=](const HostOptions& options) { return BytesText(options.*field); }};
}

OptionRow Text(const char* name, std::string HostOptions::*field, const char* placeholder,
               const char* help) {
  return {name, placeholder, help,
          [=](HostOptions& options, std::string_view text) -> std::optional<std::string> {
            options.*field = text;
            return std::nullopt;
          },
          [=](const HostOptions& options) {
            const std::string& value = options.*field;
            return value.empty() ? std::string("none") : value;
          }};
}

OptionRow Switch(const char* name, bool HostOptions::*field, const char* help) {
  return {name, "", help,
          [=](HostOptions& options, std::string_view text) -> std::optional<std::string> {
            if (text == "true" || text == "yes" || text == "on" || text == "1") {
              options.*field = true;
            } else if (text == "false" || text == "no" || text == "off" || text == "0") {
              options.*field = false;
            } else {
              return "true or false";
            }
            return std::nullopt;
          },
          [=](const HostOptions& options) { return std::string(options.*field ? "on" : "off"); }};
}

OptionRow Choice(const char* name, std::string HostOptions::*field,
                 const std::vector<std::string>& choices, const char* help) {
  std::string placeholder;
  for (const std::string& choice : choices)
    placeholder += (placeholder.empty() ? "" : "|") + choice;
  return {name, placeholder, help,
          [=](HostOptions& options, std::string_view text) -> std::optional<std::string> {
            for (const std::string& choice : choices) {
              if (text == choice) {
                options.*field = choice;
                return std::nullopt;
              }
            }
            return "one of " + placeholder;
          },
          [=](const HostOptions& options) { return options.*field; }};
}

// A comma-separated list; each item must satisfy `fits` (when given), which names what
// an item must be.
OptionRow List(const char* name, std::vector<std::string> HostOptions::*field, const char* help,
               const std::function<bool(const std::string&)>& fits = {},
               const char* itemKind = "") {
  return {name, "LIST", help,
          [=](HostOptions& options, std::string_view text) -> std::optional<std::string> {
            std::vector<std::string> items;
            while (!text.empty()) {
              const size_t comma = text.find(',');
              std::string_view item = text.substr(0, comma);
              while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
              while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
              if (!item.empty()) items.emplace_back(item);
              if (fits && !item.empty() && !fits(items.back())) {
                return "a comma-separated list of " + std::string(itemKind) + " (not " +
                       items.back() + ")";
              }
              text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
            }
            options.*field = std::move(items);
            return std::nullopt;
          },
          [=](const HostOptions& options) {
            std::string joined;
            for (const std::string& item : options.*field) {
              joined += (joined.empty() ? "" : ",") + item;
            }
            return joined.empty() ? std::string("none") : joined;
          }};
}

const std::vector<OptionRow>& Rows() {
  constexpr unsigned kDay = 24 * 3600;
  static const std::vector<OptionRow> rows = {
      Text("site", &HostOptions::site, "DIR", "the site's folder (or the one plain argument)"),
      Text("bind", &HostOptions::bind, "ADDR", "IPv4 or IPv6 address to listen on (:: for all)"),
      Number("port", &HostOptions::port, 0, 65535, "N", "port to listen on; 0 picks a free one"),
      Switch("development", &HostOptions::development,
             "show script errors in full on 500 pages (production shows an incident number)"),
      Text("access-log", &HostOptions::accessLog, "FILE",
           "access log in the Combined Log Format plus seconds taken; - is standard output, "
           "an empty value none"),
      Text("error-log", &HostOptions::errorLog, "FILE", "error log; - is standard error"),
      Number("workers", &HostOptions::workers, 0, 1024, "N",
             "threads that run pages; 0 is one per processor (pages that wait on other "
             "servers may want more)"),
      Number("backlog", &HostOptions::backlog, 0, 100000, "N",
             "page requests that may wait for a worker; past that 503 with Retry-After"),
      Choice("connection-threads", &HostOptions::connectionThreads, {"per-connection", "pool"},
             "per-connection: a thread receives and sends for each connection; pool: "
             "--engine-threads threads do it for all"),
      Number("engine-threads", &HostOptions::engineThreads, 1, 64, "N",
             "threads that receive and send for all connections in the pool mode"),
      Number("max-connections", &HostOptions::maxConnections, 1, 100000, "N",
             "open connections at most; more are refused"),
      Number("max-connections-per-address", &HostOptions::maxConnectionsPerAddress, 0, 100000, "N",
             "open connections from one client address at most (0: no cap)"),
      Bytes("max-head-size", &HostOptions::maxHeadBytes, 1024, 1024 * 1024,
            "longest request head (request line and headers); 431 past it"),
      Bytes("max-body-size", &HostOptions::maxBodyBytes, 0, uint64_t{1} << 32,
            "longest request body; 413 past it"),
      Number("head-timeout", &HostOptions::headTimeout, 1, kDay, "SECONDS",
             "time for a request head to arrive, from its first byte; 408 past it"),
      Number("body-timeout", &HostOptions::bodyTimeout, 1, kDay, "SECONDS",
             "time for a request body to arrive; 408 past it"),
      Number("keep-alive-timeout", &HostOptions::keepAliveTimeout, 1, kDay, "SECONDS",
             "time an idle connection stays open"),
      Number("send-timeout", &HostOptions::sendTimeout, 1, kDay, "SECONDS",
             "time for sending one response; the connection is cut past it"),
      Number("stop-timeout", &HostOptions::stopTimeout, 0, kDay, "SECONDS",
             "time requests in flight get to finish after SIGTERM"),
      List("deny", &HostOptions::deny,
           "comma-separated name patterns never sent (matched against every part of a path)"),
      List("trusted-proxies", &HostOptions::trustedProxies,
           "comma-separated addresses of proxies in front (nginx) whose X-Forwarded-For and "
           "X-Forwarded-Proto give the client's address and HTTPS; an empty value: none",
           IsIpAddress, "IP addresses"),
      Number("script-timeout", &HostOptions::scriptTimeout, 1, kDay, "SECONDS",
             "time a page may run (Server.ScriptTimeout's default); past it the page ends "
             "with 500"),
      Bytes("script-memory", &HostOptions::scriptMemory, uint64_t{1} << 20, uint64_t{1} << 32,
            "script heap one page may use; past it the page ends with 500"),
      Number("session-timeout", &HostOptions::sessionTimeout, 1, kDay, "SECONDS",
             "time a session lasts without requests (Session.Timeout's default)"),
      Number("max-sessions", &HostOptions::maxSessions, 1, 10000000, "N",
             "sessions kept at most; a new one past it ends the one unused longest"),
      Text("error-page", &HostOptions::errorPage, "PATH",
           "the site's page for pages that fail (a path in the site, e.g. /errors/500.asp); "
           "none: the host's own 500 page"),
      Switch("strict-errors", &HostOptions::strictErrors,
             "an editing call that appends to an object's ErrorDescription throws, so the "
             "page fails (a page's StrictErrors directive overrides it)"),
      Number("max-pixels", &HostOptions::maxPixels, 0, 4'000'000'000, "N",
             "the most pixels an image a page loads may have; larger ones are refused from "
             "their headers (0: no limit)"),
      Text("data-folder", &HostOptions::dataFolder, "DIR",
           "a folder outside the site where pages may read and write files; the components "
           "open no file outside the site and this folder"),
      Bytes("image-memory", &HostOptions::imageMemory, 0, uint64_t{1} << 40,
            "memory all images of all pages may hold together; an image that would pass it "
            "waits for room, then fails (0: no budget; the default is half the memory)"),
      Number("image-memory-wait", &HostOptions::imageMemoryWait, 0, 3600, "SECONDS",
             "time an image waits for room in --image-memory before it fails"),
      Number("imaging-threads", &HostOptions::imagingThreads, 0, 64, "N",
             "threads one big imaging operation (a filtered resize, a rotation) may use, its "
             "page's worker included; 0 is one per processor, 1 keeps each operation on its "
             "worker"),
  };
  return rows;
}

const OptionRow* FindRow(std::string_view name) {
  for (const OptionRow& row : Rows()) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

struct ConfigReading {
  HostOptions* options;
  std::string error;
};

int OnConfigValue(void* user, const char* section, const char* name, const char* value) {
  auto* reading = static_cast<ConfigReading*>(user);
  if (section[0] != '\0' && std::string_view(section) != "host") {
    reading->error = "unknown section [" + std::string(section) + "]";
    return 0;
  }
  const OptionRow* row = FindRow(name);
  if (row == nullptr) {
    reading->error = "unknown option " + std::string(name);
    return 0;
  }
  if (const std::optional<std::string> wrong = row->set(*reading->options, value)) {
    reading->error = std::string(name) + " must be " + *wrong;
    return 0;
  }
  return 1;
}

// The value of --config, if given.
std::optional<std::string> ConfigArgument(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--config" && i + 1 < argc) return argv[i + 1];
    if (argument.starts_with("--config=")) return std::string(argument.substr(9));
  }
  return std::nullopt;
}

CommandLine Failure(std::string error) { return {CommandLine::Action::kError, std::move(error)}; }

}  // namespace

uint64_t HalfThePhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageBytes = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageBytes <= 0) return 0;
  const uint64_t half = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageBytes) / 2;
  return half >> 20 << 20;
}

bool ReadConfigFile(const std::string& path, HostOptions* options, std::string* error) {
  ConfigReading reading{options, ""};
  const int result = ini_parse(path.c_str(), OnConfigValue, &reading);
  if (result == 0) {
    options->configFile = path;
    return true;
  }
  if (result < 0) {
    *error = "cannot read the configuration file " + path;
  } else {
    *error = path + ":" + std::to_string(result) + ": " +
             (reading.error.empty() ? std::string("not a name = value line") : reading.error);
  }
  return false;
}

CommandLine ParseCommandLine(int argc, const char* const* argv, HostOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") return {CommandLine::Action::kHelp, ""};
    if (argument == "--version") return {CommandLine::Action::kVersion, ""};
  }
  if (const std::optional<std::string> config = ConfigArgument(argc, argv)) {
    std::string error;
    if (!ReadConfigFile(*config, options, &error)) return Failure(error);
  }
  bool siteGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!argument.starts_with("--")) {
      if (siteGiven) return Failure("more than one site folder given");
      options->site = argument;
      siteGiven = true;
      continue;
    }
    const size_t equals = argument.find('=');
    const std::string_view name = argument.substr(2, equals - 2);
    std::optional<std::string_view> value;
    if (equals != std::string_view::npos) value = argument.substr(equals + 1);
    if (name == "config") {
      if (!value) ++i;  // read above
      continue;
    }
    const OptionRow* row = FindRow(name);
    if (row == nullptr) return Failure("unknown option --" + std::string(name));
    if (!value) {
      if (row->placeholder.empty()) {
        value = "true";
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return Failure("--" + std::string(name) + " needs a value");
      }
    }
    if (const std::optional<std::string> wrong = row->set(*options, *value)) {
      return Failure("--" + std::string(name) + " must be " + *wrong);
    }
  }
  if (options->site.empty()) return Failure("no site folder given");
  return {};
}

std::string_view UsageLine() { return "usage: vellum-host [OPTION...] SITE_DIR\n"; }

std::string HelpText() {
  const HostOptions defaults;
  std::string text =
      std::string(UsageLine()) +
      "Serves the site in SITE_DIR over HTTP/1.1: pages run as scripts, other files are sent\n"
      "as they are. Prints \"listening on URL\" once it accepts connections. SIGTERM stops\n"
      "it gracefully (a second one at once); SIGHUP reopens the log files.\n\n"
      "  --config FILE   read options from FILE first (name = value lines, names as below)\n"
      "  --help          show this text\n"
      "  --version       show the version\n";
  for (const OptionRow& row : Rows()) {
    std::string left = "  --" + std::string(row.name);
    if (!row.placeholder.empty()) left += " " + row.placeholder;
    text += left + "\n      " + row.help + " (default: " + row.show(defaults) + ")\n";
  }
  return text;
}

}  // namespace host
