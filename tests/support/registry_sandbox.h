// Points the registry at a private file for the lifetime of a test, so that tests never
// touch the user's registry and start from an empty one.
#pragma once

#include <cstdlib>
#include <string>

#include "tests/support/temp_dir.h"

namespace testing_support {

class RegistrySandbox {
 public:
  RegistrySandbox() : path_(directory_.File("registry")) {
    const char* previous = std::getenv("VELLUM_REGISTRY");
    if (previous != nullptr) previous_ = previous;
    hadPrevious_ = previous != nullptr;
    setenv("VELLUM_REGISTRY", path_.c_str(), 1);
  }
  ~RegistrySandbox() {
    if (hadPrevious_) {
      setenv("VELLUM_REGISTRY", previous_.c_str(), 1);
    } else {
      unsetenv("VELLUM_REGISTRY");
    }
  }
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  const std::string& Path() const { return path_; }
  const TempDir& Directory() const { return directory_; }

 private:
  TempDir directory_;
  std::string path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

}  // namespace testing_support
