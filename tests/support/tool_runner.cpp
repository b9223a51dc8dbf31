#include "tests/support/tool_runner.h"

#include "tests/support/oracle.h"

namespace testing_support {

ToolRun ToolRunner::Tool(const std::string& command) {
  const std::string err = directory_.File("stderr");
  const std::string full = "export VELLUM_REGISTRY=" + ShellQuote(Registry()) + "; " + command +
                           " 2>" + ShellQuote(err) + "; echo \"#status=$?\"";
  ToolRun run;
  RunCommand(full, &run.out);
  const size_t marker = run.out.rfind("#status=");
  if (marker != std::string::npos) {
    run.status = std::stoi(run.out.substr(marker + 8));
    run.out.erase(marker);
  }
  const std::vector<uint8_t> bytes = ReadFileBytes(err);
  run.err.assign(bytes.begin(), bytes.end());
  return run;
}

ToolRun ToolRunner::Register(const std::string& module, bool unregister) {
  return Tool(ShellQuote(regsvrPath_) + (unregister ? " -u " : " ") + ShellQuote(module));
}

ToolRun ToolRunner::Script(const std::string& source, const std::string& args,
                           const std::string& options) {
  const std::string file = directory_.File("script.js");
  WriteFileBytes(file, std::vector<uint8_t>(source.begin(), source.end()));
  return Tool(ShellQuote(scriptPath_) + " " + options + " " + ShellQuote(file) + " " + args);
}

}  // namespace testing_support
