// Runs a page script: a fresh engine heap per page, on the calling thread, with the
// page's context current so that the objects it creates write into its response.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/com/interfaces.h"

namespace host {

// The page sees CreateObject, Enumerator, print (to standard error), Response and
// Request. Nothing when the script ran to its end; the error text when it threw.
std::optional<std::string> RunPageScript(std::string_view source, const std::string& fileName,
                                         IDispatch* response, IDispatch* request);

}  // namespace host
