#include "tests/support/postgres_server.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "tests/support/oracle.h"
#include "tests/support/picture_compare.h"

namespace testing_support {

namespace {

class ScratchServer {
 public:
  ScratchServer() {
    char pattern[] = "/tmp/vellum-pg-XXXXXX";  // short: the socket's path is limited
    if (mkdtemp(pattern) == nullptr) {
      error_ = "mkdtemp failed";
      return;
    }
    directory_ = pattern;
    const std::string command =
        "bash " + ShellQuote(Script()) + " start " + ShellQuote(directory_) + " 2>&1";
    FILE* output = popen(command.c_str(), "r");
    std::string printed;
    char buffer[512];
    while (output != nullptr && fgets(buffer, sizeof buffer, output) != nullptr) printed += buffer;
    const int status = output != nullptr ? pclose(output) : -1;
    while (!printed.empty() && printed.back() == '\n') printed.pop_back();
    if (status == 0) {
      connectionString_ = printed;
    } else {
      error_ = printed.empty() ? "pg_scratch.sh failed" : printed;
    }
  }

  ~ScratchServer() {
    if (directory_.empty()) return;
    if (!connectionString_.empty()) {
      const std::string command =
          "bash " + ShellQuote(Script()) + " stop " + ShellQuote(directory_) + " >/dev/null 2>&1";
      [[maybe_unused]] const int ignored = std::system(command.c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  const std::string& ConnectionString() const { return connectionString_; }
  const std::string& Error() const { return error_; }

 private:
  static std::string Script() { return TestDataPath("../../scripts/pg_scratch.sh"); }

  std::string directory_;
  std::string connectionString_;
  std::string error_;
};

}  // namespace

std::string PostgresConnectionString(std::string* error) {
  static const ScratchServer server;
  if (server.ConnectionString().empty()) *error = server.Error();
  return server.ConnectionString();
}

}  // namespace testing_support
