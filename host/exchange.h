// The bridge between the HTTP engine and the pages: what the engine hands a page
// (the whole request, its body read and its form parsed) and what a page writes its
// response into. The engine side knows sockets and HTTP; the page side knows scripts
// and the page objects; neither reaches past this file into the other.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

using NameValueList = std::vector<std::pair<std::string, std::string>>;

// A file sent in a multipart/form-data body.
struct UploadedFile {
  std::string field;        // the form field's name
  std::string fileName;     // as the client named it (no folders)
  std::string contentType;  // as the client sent it
  std::string bytes;
};

// One request, complete: the engine calls a page only once the body is in.
struct RequestRecord {
  std::string method;     // "GET", "POST", ...
  std::string target;     // as sent
  std::string path;       // the target's path, %-decoded once
  std::string query;      // the target's query (after '?'), as sent
  std::string protocol;   // "HTTP/1.1"
  NameValueList headers;  // in arrival order; names in lower case
  std::string body;       // the raw body
  // Fields of an application/x-www-form-urlencoded or multipart/form-data body, in
  // order, a name sent twice listed twice; files are apart in `files`.
  NameValueList form;
  std::vector<UploadedFile> files;
  std::string remoteAddress;
  uint16_t remotePort = 0;
  std::string localAddress;
  uint16_t localPort = 0;
  bool secure = false;     // the client reached us over TLS (a proxy says so)
  std::string scriptFile;  // the real path of the page's file in the site
  std::string scriptName;  // the page's path in the site ("/index.asp" for "/")

  // The value of the first header of that (lower-case) name, or nothing.
  std::optional<std::string_view> Header(std::string_view name) const {
    for (const auto& [headerName, value] : headers) {
      if (headerName == name) return value;
    }
    return std::nullopt;
  }
};

// Where a page's response goes. Calls come from the page's thread, in order: one
// SendHead, then any number of SendBody, then Finish. A false return means the
// client is gone or a limit cut the response off; later calls do nothing.
class ResponseSink {
 public:
  virtual ~ResponseSink() = default;

  // The status line and headers. `headers` holds no framing headers (Content-Length,
  // Transfer-Encoding, Connection): the engine adds them. With `length` the body is
  // exactly that long; without, it is streamed.
  virtual bool SendHead(int status, std::string_view reason, const NameValueList& headers,
                        std::optional<uint64_t> length) = 0;
  virtual bool SendBody(std::string_view bytes) = 0;
  // The response is complete (a streamed one ends here).
  virtual void Finish() = 0;
  // False once the client has closed its side.
  virtual bool ClientConnected() const = 0;
  // A HEAD request: the engine drops body bytes, a page may skip making them.
  virtual bool HeadOnly() const = 0;
};

}  // namespace host
