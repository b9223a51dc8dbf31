#include "host/status_pages.h"

#include "host/pages/server_object.h"

namespace host {

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 304:
      return "Not Modified";
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
    case 413:
      return "Content Too Large";
    case 416:
      return "Range Not Satisfiable";
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

namespace {

std::string Page(std::string_view title, std::string_view body) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + std::string(title) +
         "</title></head><body><h1>" + std::string(title) + "</h1>\n" + std::string(body) +
         "</body></html>\n";
}

}  // namespace

std::string StatusPage(int status, std::string_view detail) {
  const std::string title = std::to_string(status) + " " + std::string(ReasonPhrase(status));
  return Page(title, "<pre>" + pages::HtmlEncode(detail) + "</pre>");
}

std::string ScriptFailurePage(const ScriptFailure& failure, std::string_view incident,
                              bool development) {
  if (!development) {
    return Page("500 Internal Server Error",
                "<p>The page could not be made. The error is recorded as incident " +
                    pages::HtmlEncode(incident) + ".</p>");
  }
  std::string where = failure.file;
  if (failure.line > 0) where += ", line " + std::to_string(failure.line);
  std::string body =
      "<p>" + pages::HtmlEncode(where) + "</p>\n<pre>" + pages::HtmlEncode(failure.message);
  if (!failure.stack.empty()) body += "\n" + pages::HtmlEncode(failure.stack);
  body += "</pre>\n<p>Incident " + pages::HtmlEncode(incident) + ".</p>";
  return Page("500 Internal Server Error", body);
}

void SendHtmlPage(ResponseSink& response, int status, const std::string& html) {
  if (!response.SendHead(status, ReasonPhrase(status),
                         {{"Content-Type", "text/html; charset=utf-8"}}, html.size())) {
    return;
  }
  if (!response.HeadOnly()) response.SendBody(html);
  response.Finish();
}

}  // namespace host
