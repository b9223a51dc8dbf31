// Restricts the files the components open to some folders for the lifetime of a test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/policy/file_access.h"

namespace testing_support {

class AllowedFoldersScope {
 public:
  explicit AllowedFoldersScope(const std::vector<std::string>& folders) {
    EXPECT_EQ(policy::SetAllowedFolders(folders), 0u);
  }
  ~AllowedFoldersScope() { policy::SetAllowedFolders({}); }
  AllowedFoldersScope(const AllowedFoldersScope&) = delete;
  AllowedFoldersScope& operator=(const AllowedFoldersScope&) = delete;
};

}  // namespace testing_support
