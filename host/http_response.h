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

// "Not Found" for 404, and so on for the statuses the host sends.
std::string_view ReasonPhrase(int status);

// The status line and header lines of a response, blank line included. Every
// response closes its connection.
std::string ResponseHead(int status, const HeaderList& headers);

// `text` with &, <, >, " and ' as character references.
std::string HtmlEscape(std::string_view text);

// Sends a complete HTML page for a status, with `detail` (escaped) under its title;
// with `headOnly` only the head goes out.
void SendStatusPage(Connection& connection, int status, std::string_view detail, bool headOnly,
                    const HeaderList& extraHeaders = {});

}  // namespace host
