#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <optional>

#include "platform/registry/registrar.h"
#include "platform/registry/registry_store.h"
#include "tests/support/oracle.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/temp_dir.h"

namespace {

using registry::RegistryKey;
using testing_support::RegistrySandbox;

std::shared_ptr<const RegistryKey> Snapshot() {
  std::shared_ptr<const RegistryKey> root;
  EXPECT_EQ(registry::ReadRegistry(&root), S_OK);
  return root;
}

const std::string* ClassesValue(const std::string& path, const std::string& name = "") {
  static std::shared_ptr<const RegistryKey> kept;
  kept = Snapshot();
  const RegistryKey* key = kept->Find(std::string(registry::kClassesRoot) + "\\" + path);
  return key != nullptr ? key->Value(name) : nullptr;
}

TEST(RegistryFile, RoundTripsNamesAndValuesWithEveryCharacter) {
  RegistryKey root;
  RegistryKey& key = root.Create("HKEY_CLASSES_ROOT\\Odd \"name\"\\\xC3\xA9t\xC3\xA9");
  key.SetValue("", "default with \\ and \" and\nnewline\r\tand \x01 and \x7F");
  key.SetValue("Named", "");
  root.Create("HKEY_CLASSES_ROOT\\Empty");
  const std::string text = registry::SerializeRegistry(root);
  const std::unique_ptr<RegistryKey> parsed = registry::ParseRegistry(text);
  ASSERT_NE(parsed, nullptr);
  EXPECT_EQ(*parsed, root);
  EXPECT_EQ(text.find('\x01'), std::string::npos);  // control characters are escaped
}

TEST(RegistryFile, RefusesMalformedText) {
  for (const char* text : {"", "key \"A\"\n", "VELLUM-REGISTRY 1\nvalue \"\" \"x\"\n",
                           "VELLUM-REGISTRY 1\nkey \"A\nvalue", "VELLUM-REGISTRY 1\nkey \"\"\n",
                           "VELLUM-REGISTRY 1\nkey \"A\"\nvalue \"x\" \"\\q\"\n",
                           "VELLUM-REGISTRY 1\nkey \"A\"\nvalue \"x\"\n",
                           "VELLUM-REGISTRY 1\nkey \"A\\\\B\"\n", "VELLUM-REGISTRY 1\nbogus\n"}) {
    EXPECT_EQ(registry::ParseRegistry(text), nullptr) << text;
  }
}

TEST(RegistryKey, NamesIgnoreCaseButKeepTheirSpelling) {
  RegistryKey root;
  root.Create("Top\\CLSID").SetValue("ThreadingModel", "both");
  ASSERT_NE(root.Find("top\\clsid"), nullptr);
  EXPECT_EQ(*root.Find("TOP\\Clsid")->Value("threadingmodel"), "both");
  EXPECT_EQ(root.subkeys().begin()->first, "Top");
  EXPECT_TRUE(root.Find("Top")->RemoveSubkey("clsid"));
  EXPECT_EQ(root.Find("Top\\CLSID"), nullptr);
}

TEST(RegistryStore, ChangesPersistAndFailedChangesWriteNothing) {
  RegistrySandbox sandbox;
  EXPECT_TRUE(Snapshot()->subkeys().empty());  // no file yet
  ASSERT_EQ(registry::UpdateRegistry([](RegistryKey& root) {
              root.Create("HKEY_CLASSES_ROOT\\A").SetValue("", "1");
              return S_OK;
            }),
            S_OK);
  EXPECT_EQ(*ClassesValue("A"), "1");
  EXPECT_EQ(registry::UpdateRegistry([](RegistryKey& root) {
              root.Create("HKEY_CLASSES_ROOT\\B");
              return E_FAIL;
            }),
            E_FAIL);
  EXPECT_EQ(Snapshot()->Find("HKEY_CLASSES_ROOT\\B"), nullptr);
  std::string value;
  EXPECT_EQ(registry::QueryClassesRoot("A", "", &value), S_OK);
  EXPECT_EQ(registry::QueryClassesRoot("A", "missing", &value), S_FALSE);
}

TEST(RegistryStore, AFileThatDoesNotParseIsNeverOverwritten) {
  RegistrySandbox sandbox;
  testing_support::WriteFileBytes(sandbox.Path(), {'j', 'u', 'n', 'k'});
  std::shared_ptr<const RegistryKey> root;
  EXPECT_EQ(registry::ReadRegistry(&root), REGDB_E_READREGDB);
  EXPECT_EQ(registry::UpdateRegistry([](RegistryKey&) { return S_OK; }), REGDB_E_READREGDB);
  EXPECT_EQ(testing_support::ReadFileBytes(sandbox.Path()).size(), 4u);
}

TEST(RegistryStore, WritersInSeveralProcessesAllLand) {
  RegistrySandbox sandbox;
  constexpr int kProcesses = 6;
  constexpr int kKeysEach = 15;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int k = 0; k < kKeysEach; ++k) {
        const std::string name =
            "HKEY_CLASSES_ROOT\\P" + std::to_string(p) + "\\K" + std::to_string(k);
        if (FAILED(registry::UpdateRegistry([&](RegistryKey& root) {
              root.Create(name).SetValue("", "v");
              return S_OK;
            }))) {
          _exit(1);
        }
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const auto root = Snapshot();
  for (int p = 0; p < kProcesses; ++p) {
    for (int k = 0; k < kKeysEach; ++k) {
      EXPECT_NE(root->Find("HKEY_CLASSES_ROOT\\P" + std::to_string(p) + "\\K" + std::to_string(k)),
                nullptr);
    }
  }
}

// Sets environment variables for a test and puts the previous values back.
class EnvironmentScope {
 public:
  ~EnvironmentScope() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  void Set(const std::string& name, const char* value) {
    if (saved_.find(name) == saved_.end()) {
      const char* previous = std::getenv(name.c_str());
      saved_[name] = previous ? std::optional<std::string>(previous) : std::nullopt;
    }
    if (value != nullptr) {
      setenv(name.c_str(), value, 1);
    } else {
      unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

HRESULT AddClassKey(const std::string& name) {
  return registry::UpdateRegistry([&](RegistryKey& root) {
    root.Create("HKEY_CLASSES_ROOT\\" + name);
    return S_OK;
  });
}

// VELLUM_REGISTRY, else the per-user registry when it exists, else the system one; a
// first change of the per-user registry starts from the system's content.
TEST(RegistryStore, ReadsTheNamedThenTheUsersThenTheSystemRegistry) {
  testing_support::TempDir directory;
  const std::string system = directory.File("system-registry");
  const std::string user = directory.File("data/vellum/registry");
  EnvironmentScope environment;
  environment.Set("VELLUM_REGISTRY", directory.File("named").c_str());
  environment.Set("VELLUM_SYSTEM_REGISTRY", system.c_str());
  ASSERT_EQ(AddClassKey("Named"), S_OK);
  environment.Set("VELLUM_REGISTRY", system.c_str());
  ASSERT_EQ(AddClassKey("FromSystem"), S_OK);

  environment.Set("VELLUM_REGISTRY", nullptr);
  environment.Set("XDG_DATA_HOME", directory.File("data").c_str());
  EXPECT_EQ(registry::RegistryPath(), system);
  EXPECT_EQ(registry::WrittenRegistryPath(), user);
  EXPECT_NE(Snapshot()->Find("HKEY_CLASSES_ROOT\\FromSystem"), nullptr);

  ASSERT_EQ(AddClassKey("Mine"), S_OK);
  EXPECT_EQ(registry::RegistryPath(), user);
  EXPECT_NE(Snapshot()->Find("HKEY_CLASSES_ROOT\\FromSystem"), nullptr);
  EXPECT_NE(Snapshot()->Find("HKEY_CLASSES_ROOT\\Mine"), nullptr);
  environment.Set("VELLUM_REGISTRY", system.c_str());
  EXPECT_EQ(Snapshot()->Find("HKEY_CLASSES_ROOT\\Mine"), nullptr);  // the system is untouched

  environment.Set("VELLUM_REGISTRY", nullptr);
  environment.Set("XDG_DATA_HOME", nullptr);
  environment.Set("HOME", directory.File("home").c_str());
  environment.Set("VELLUM_SYSTEM_REGISTRY", directory.File("no-system").c_str());
  EXPECT_EQ(registry::RegistryPath(), directory.File("home/.local/share/vellum/registry"));
}

constexpr char kScript[] = R"(HKCR
{
	Sample.Thing.1 = s 'Thing Class'
	{
		CLSID = s '{11111111-2222-3333-4444-555555555555}'
	}
	NoRemove CLSID
	{
		ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Thing Class'
		{
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'both'
			}
			'Quoted Name' = s 'it''s 100%% done'
		}
	}
	Delete Stale.Key
}
)";

HRESULT RunScript(const std::string& script, bool registering,
                  const std::string& module = "/lib/x.so") {
  return registry::RunRegistryScript(script, {{"MODULE", registry::DoubleSingleQuotes(module)}},
                                     registering);
}

TEST(Registrar, RegistersKeysValuesAndSubstitutions) {
  RegistrySandbox sandbox;
  ASSERT_EQ(registry::UpdateRegistry([](RegistryKey& root) {
              root.Create("HKEY_CLASSES_ROOT\\Stale.Key\\Below");
              return S_OK;
            }),
            S_OK);
  ASSERT_EQ(RunScript(kScript, true, "/lib/it's.so"), S_OK);
  const std::string classKey = "CLSID\\{11111111-2222-3333-4444-555555555555}";
  EXPECT_EQ(*ClassesValue("Sample.Thing.1"), "Thing Class");
  EXPECT_EQ(*ClassesValue(classKey + "\\InprocServer32"), "/lib/it's.so");
  EXPECT_EQ(*ClassesValue(classKey + "\\InprocServer32", "ThreadingModel"), "both");
  EXPECT_EQ(*ClassesValue(classKey + "\\Quoted Name"), "it's 100% done");
  EXPECT_EQ(ClassesValue("Stale.Key"), nullptr);  // Delete removed it
}

TEST(Registrar, RegisteringTwiceLeavesTheSameContent) {
  RegistrySandbox sandbox;
  ASSERT_EQ(RunScript(kScript, true), S_OK);
  const std::vector<uint8_t> once = testing_support::ReadFileBytes(sandbox.Path());
  // A stale value under the class key goes with ForceRemove.
  ASSERT_EQ(registry::UpdateRegistry([](RegistryKey& root) {
              root.Create("HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555555}\\Old");
              return S_OK;
            }),
            S_OK);
  ASSERT_EQ(RunScript(kScript, true), S_OK);
  EXPECT_EQ(testing_support::ReadFileBytes(sandbox.Path()), once);
}

TEST(Registrar, UnregisteringRemovesWhatRegisteringWroteAndKeepsTheRest) {
  RegistrySandbox sandbox;
  ASSERT_EQ(registry::UpdateRegistry([](RegistryKey& root) {
              root.Create("HKEY_CLASSES_ROOT\\CLSID\\{OTHER}").SetValue("", "someone else");
              return S_OK;
            }),
            S_OK);
  const std::vector<uint8_t> before = testing_support::ReadFileBytes(sandbox.Path());
  ASSERT_EQ(RunScript(kScript, true), S_OK);
  ASSERT_EQ(RunScript(kScript, false), S_OK);
  EXPECT_EQ(testing_support::ReadFileBytes(sandbox.Path()), before);
  // NoRemove keeps CLSID even when it ends up empty.
  RegistrySandbox fresh;
  ASSERT_EQ(RunScript(kScript, true), S_OK);
  ASSERT_EQ(RunScript(kScript, false), S_OK);
  ASSERT_NE(Snapshot()->Find("HKEY_CLASSES_ROOT\\CLSID"), nullptr);
  EXPECT_EQ(Snapshot()->Find("HKEY_CLASSES_ROOT\\Sample.Thing.1"), nullptr);
}

TEST(Registrar, ScriptsThatDoNotParseChangeNothing) {
  RegistrySandbox sandbox;
  for (const char* bad :
       {"HKCR { A = s 'unterminated }", "HKCR { A = s }", "HKXX { }", "HKCR { A = d '1' }",
        "HKCR { val X = s 'y' }", "HKCR { A { }", "HKCR { A = s '%UNKNOWN%' }", "HKCR { A\\B }"}) {
    EXPECT_EQ(RunScript(bad, true), DISP_E_EXCEPTION) << bad;
  }
  EXPECT_TRUE(Snapshot()->subkeys().empty());
}

}  // namespace
