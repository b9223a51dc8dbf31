// The registration tool and the script runner, each run as a process of its own with
// the registry pointed at a private file.
#pragma once

#include <string>

#include "tests/support/temp_dir.h"

namespace testing_support {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

class ToolRunner {
 public:
  ToolRunner(std::string regsvrPath, std::string scriptPath)
      : regsvrPath_(std::move(regsvrPath)), scriptPath_(std::move(scriptPath)) {}

  // Runs a shell command with the private registry; its exit status and both outputs.
  ToolRun Tool(const std::string& command);
  // Registers (or unregisters) a module with the registration tool.
  ToolRun Register(const std::string& module, bool unregister = false);
  // Runs a script with the script runner, after its options (shell words) when given.
  ToolRun Script(const std::string& source, const std::string& args = "",
                 const std::string& options = "");

  std::string Registry() const { return directory_.File("registry"); }
  const TempDir& Directory() const { return directory_; }

 private:
  TempDir directory_;
  std::string regsvrPath_;
  std::string scriptPath_;
};

}  // namespace testing_support
