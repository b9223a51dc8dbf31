// .asp pages turned into scripts. A page is text with script in it:
//
//   <%@ Language="JScript" %>          a directive, before any script of the page
//                                      (also EnableSessionState, StrictErrors, CodePage)
//   <% code %>                         script run where it stands
//   <%= expression %>                  the expression's value written to the response
//   <script runat="server"> code </script>
//   <!-- #include file="x.inc" -->     another file's text in its place: relative to the
//   <!-- #include virtual="/x.inc" --> including file, or to the site's root
//
// global.asa holds only <script runat="server"> blocks (and includes).
//
// The script made from a page calls __vellum_text(k) for the k-th stretch of page text
// and __vellum_write(value) for each <%= %>. Each of its lines knows the file and line
// it came from, so that errors name the page or include file and its line.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pages {

// The limits of a page and its includes together.
constexpr int kMaxIncludeDepth = 16;
constexpr size_t kMaxTemplateBytes = 16 * 1024 * 1024;

struct SourcePosition {
  std::string file;  // the file's path in the site ("/shop/photo.asp")
  int line = 0;      // from 1
};

struct PageTemplate {
  std::string script;                // the page as a script (UTF-8)
  std::vector<std::string> texts;    // the stretches of page text, as bytes
  std::vector<std::string> files;    // site paths: the page, then each file it includes
  bool sessionState = true;          // EnableSessionState
  std::optional<bool> strictErrors;  // StrictErrors, when the page says

  // Where line `scriptLine` (from 1) of the script came from.
  SourcePosition Locate(int scriptLine) const;

  struct LineSource {
    uint32_t file = 0;  // index into `files`
    int line = 0;
  };
  std::vector<LineSource> lines;  // one per line of `script`
};

struct TemplateError {
  SourcePosition where;
  std::string message;
  // The page asks for a script language other than JScript or JavaScript.
  bool unsupportedLanguage = false;

  std::string Text() const;  // "/inc/db.inc, line 3: ..."
};

// Reads a file of the site by its site path ("/inc/db.inc"); false with the reason in
// `error` when it cannot (missing, outside the site, not a file).
using SiteFileReader =
    std::function<bool(const std::string& sitePath, std::string* content, std::string* error)>;

// Makes the script of the page at `pagePath` (a site path), reading it and its
// includes through `read`.
std::variant<PageTemplate, TemplateError> ParsePageTemplate(const std::string& pagePath,
                                                            const SiteFileReader& read);

// Makes the script of a site's global.asa: its <script runat="server"> blocks (and
// includes); text around them is ignored, and <% %> blocks are refused.
std::variant<PageTemplate, TemplateError> ParseGlobalFile(const std::string& path,
                                                          const SiteFileReader& read);

// The site path `target` names from the folder of `fromPath` ("a/../b.inc",
// "/root.inc"); nothing when it climbs above the site's root. Empty segments and "."
// are dropped.
std::optional<std::string> ResolveSitePath(std::string_view fromPath, std::string_view target);

}  // namespace pages
