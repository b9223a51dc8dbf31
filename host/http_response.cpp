#include "host/http_response.h"

namespace host {

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Unknown";
  }
}

std::string ResponseHead(int status, const HeaderList& headers) {
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " +
                     std::string(ReasonPhrase(status)) + "\r\nConnection: close\r\n";
  for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
  head += "\r\n";
  return head;
}

std::string HtmlEscape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

void SendStatusPage(Connection& connection, int status, std::string_view detail, bool headOnly,
                    const HeaderList& extraHeaders) {
  const std::string title = std::to_string(status) + " " + std::string(ReasonPhrase(status));
  const std::string body = "<!DOCTYPE html>\n<html><head><title>" + title +
                           "</title></head><body><h1>" + title + "</h1>\n<pre>" +
                           HtmlEscape(detail) + "</pre></body></html>\n";
  HeaderList headers = {{"Content-Type", "text/html; charset=utf-8"},
                        {"Content-Length", std::to_string(body.size())}};
  headers.insert(headers.end(), extraHeaders.begin(), extraHeaders.end());
  connection.Send(ResponseHead(status, headers));
  if (!headOnly) connection.Send(body);
}

}  // namespace host
