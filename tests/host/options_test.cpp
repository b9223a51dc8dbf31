// The host's options from the command line and the configuration file.
#include "host/options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using host::CommandLine;
using host::HostOptions;

CommandLine Parse(std::vector<const char*> arguments, HostOptions* options) {
  arguments.insert(arguments.begin(), "vellum-host");
  return host::ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), options);
}

TEST(OptionsTest, TheCommandLineWinsOverTheConfigurationFile) {
  testing_support::TempDir directory;
  const std::string config = directory.File("host.conf");
  std::ofstream(config) << "; comment\nport = 9000\n[host]\nworkers = 3\nmax-body-size = 2M\n"
                           "deny = .*, *.bak\ndevelopment = yes\nsite = /srv/site\n";
  HostOptions options;
  const CommandLine parsed =
      Parse({"--config", config.c_str(), "--port=9001", "--max-head-size", "8K", "/other/site"},
            &options);
  ASSERT_EQ(parsed.action, CommandLine::Action::kRun) << parsed.error;
  EXPECT_EQ(options.port, 9001u);
  EXPECT_EQ(options.workers, 3u);
  EXPECT_EQ(options.maxBodyBytes, 2u << 20);
  EXPECT_EQ(options.maxHeadBytes, 8u << 10);
  EXPECT_EQ(options.deny, (std::vector<std::string>{".*", "*.bak"}));
  EXPECT_TRUE(options.development);
  EXPECT_EQ(options.site, "/other/site");
  EXPECT_EQ(options.configFile, config);
}

TEST(OptionsTest, MistakesAreReportedWithWhereTheyAre) {
  testing_support::TempDir directory;
  const std::string config = directory.File("host.conf");
  std::ofstream(config) << "port = 80\n\nno-such-option = 1\n";
  HostOptions options;
  EXPECT_EQ(Parse({"--config", config.c_str(), "site"}, &options).error,
            config + ":3: unknown option no-such-option");
  std::ofstream(config) << "[elsewhere]\nport = 80\n";
  EXPECT_EQ(Parse({"--config", config.c_str(), "site"}, &options).error,
            config + ":2: unknown section [elsewhere]");
  struct Case {
    std::vector<const char*> arguments;
    const char* error;
  };
  const Case cases[] = {
      {{"--port", "65536", "site"}, "--port must be a number from 0 to 65535"},
      {{"--port", "-1", "site"}, "--port must be a number from 0 to 65535"},
      {{"--max-body-size", "5X", "site"}, "--max-body-size must be a size from 0 to 4096M"},
      {{"--development=maybe", "site"}, "--development must be true or false"},
      {{"--connection-threads", "many", "site"},
       "--connection-threads must be one of per-connection|pool"},
      {{"--trusted-proxies", "127.0.0.1,nginx", "site"},
       "--trusted-proxies must be a comma-separated list of IP addresses (not nginx)"},
      {{"--no-such", "site"}, "unknown option --no-such"},
      {{"site", "--port"}, "--port needs a value"},
      {{"one", "two"}, "more than one site folder given"},
      {{"--port", "80"}, "no site folder given"},
      {{"--config", "/no/such/file", "site"}, "cannot read the configuration file /no/such/file"},
  };
  for (const Case& c : cases) {
    HostOptions fresh;
    const CommandLine parsed = Parse(c.arguments, &fresh);
    EXPECT_EQ(parsed.action, CommandLine::Action::kError) << c.error;
    EXPECT_EQ(parsed.error, c.error);
  }
}

TEST(OptionsTest, HelpNamesEveryOptionWithItsDefault) {
  HostOptions options;
  EXPECT_EQ(Parse({"--port", "80", "--help"}, &options).action, CommandLine::Action::kHelp);
  EXPECT_EQ(Parse({"--version"}, &options).action, CommandLine::Action::kVersion);
  const std::string help = host::HelpText();
  for (const char* line :
       {"--port N\n", "(default: 8080)", "--max-body-size BYTES\n", "(default: 16M)",
        "--development\n", "(default: off)", "--connection-threads per-connection|pool\n",
        "(default: .*,*.db,*.sqlite,*.sqlite3,*.inc,*.asa,*.conf,*.ini)"}) {
    EXPECT_NE(help.find(line), std::string::npos) << line;
  }
}

}  // namespace
