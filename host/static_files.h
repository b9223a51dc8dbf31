// Files of the site sent as they are, and the paths a request may reach.
#pragma once

#include <string>
#include <string_view>

#include "host/connection.h"

namespace host {

// The content type for a file name's extension (application/octet-stream if unknown).
std::string_view ContentTypeFor(std::string_view fileName);

enum class Resolution { kFound, kMissing, kOutside };

// The real path of a site-relative path below `realSite` (itself a real path): found
// only when it exists, is a regular file and stays inside the site after every
// symbolic link is followed.
Resolution ResolveInSite(const std::string& realSite, const std::string& relative,
                         std::string* realPath);

// Sends a regular file with its length; false when it cannot be read.
bool SendFile(Connection& connection, const std::string& path, bool headOnly, size_t* sent);

// Reads a whole file (at most `limit` bytes); false when it cannot, or is larger.
bool ReadWholeFile(const std::string& path, size_t limit, std::string* content);

}  // namespace host
