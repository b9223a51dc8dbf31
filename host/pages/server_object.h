// Server: the host's services to a page. The text encodings are its own; paths, time
// limits, other pages and the last error come from the page runner.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "host/pages/page_object.h"

namespace pages {

// Text as HTML: & < > " ' as entities.
std::string HtmlEncode(std::string_view text);
// Text as a URL query part: letters, digits and -_.* kept, space as '+', the rest as
// %XX of its UTF-8 bytes.
std::string UrlEncode(std::string_view text);
// Text as a URL path: spaces, control characters, bytes beyond ASCII and "<>\^`{|}
// as %XX; what follows a '?' is kept as it is.
std::string UrlPathEncode(std::string_view text);

// What Server asks of the page runner. Failures set error information.
class ServerServices {
 public:
  // The file a site path names from the running page ("/a/b.png", "b.png").
  virtual HRESULT MapPath(std::string_view path, std::string* file) = 0;
  virtual LONG ScriptTimeout() const = 0;
  virtual HRESULT SetScriptTimeout(LONG seconds) = 0;
  // Runs another page of the site for this request; `transfer` ends this page after.
  virtual HRESULT Execute(std::string_view path, bool transfer) = 0;
  // The error of the failed page an error page runs for (an empty one otherwise).
  virtual ComPtr<IPageError> LastError() = 0;

 protected:
  ~ServerServices() = default;
};

ComPtr<IPageServer> MakeServerObject(std::shared_ptr<const PageScope> scope,
                                     ServerServices* services);

// The facts of a page's failure, as Server.GetLastError gives them.
struct PageErrorFacts {
  std::string category;  // "Script error", "Page template", "Time limit", ...
  std::string file;      // the site path of the file at fault
  int line = 0;
  int column = 0;
  std::string description;
  std::string source;  // the text of the failing line
  HRESULT number = 0;
};

ComPtr<IPageError> MakeErrorObject(const PageErrorFacts& facts);

}  // namespace pages
