#include "host/http_response.h"

#include "host/status_pages.h"

namespace host {

std::string ResponseHead(int status, const HeaderList& headers) {
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " +
                     std::string(ReasonPhrase(status)) + "\r\nConnection: close\r\n";
  for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
  head += "\r\n";
  return head;
}

void SendStatusPage(Connection& connection, int status, std::string_view detail, bool headOnly,
                    const HeaderList& extraHeaders) {
  const std::string body = StatusPage(status, detail);
  HeaderList headers = {{"Content-Type", "text/html; charset=utf-8"},
                        {"Content-Length", std::to_string(body.size())}};
  headers.insert(headers.end(), extraHeaders.begin(), extraHeaders.end());
  connection.Send(ResponseHead(status, headers));
  if (!headOnly) connection.Send(body);
}

}  // namespace host
