// What the host writes back: status lines with their heads, and the small HTML pages
// that explain a refusal or a failure.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/connection.h"

namespace host {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The status line and header lines of a response, blank line included. Every
// response closes its connection.
std::string ResponseHead(int status, const HeaderList& headers);

// Sends a complete HTML page for a status, with `detail` (escaped) under its title;
// with `headOnly` only the head goes out.
void SendStatusPage(Connection& connection, int status, std::string_view detail, bool headOnly,
                    const HeaderList& extraHeaders = {});

}  // namespace host
