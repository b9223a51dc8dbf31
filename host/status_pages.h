// The small HTML pages the host answers with when it refuses a request or a page fails.
#pragma once

#include <string>
#include <string_view>

#include "host/exchange.h"
#include "host/page_handler.h"

namespace host {

// "Not Found" for 404, and so on ("Unknown" for a status the host never sends).
std::string_view ReasonPhrase(int status);

// A page titled with the status, with `detail` (escaped) under the title.
std::string StatusPage(int status, std::string_view detail);

// The 500 page for a failed script: in development the error with its file and line,
// otherwise a short apology with the incident number (nothing of the script's insides).
std::string ScriptFailurePage(const ScriptFailure& failure, std::string_view incident,
                              bool development);

// Sends a complete HTML page as the whole response; nothing may have gone out yet.
void SendHtmlPage(ResponseSink& response, int status, const std::string& html);

}  // namespace host
