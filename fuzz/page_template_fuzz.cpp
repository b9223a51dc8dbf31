// The .asp template parser on any text: the input is split at each pair of zero bytes
// into the page (/page.asp) and files it may include (/1.inc, /2.inc, ...). Parsed as a
// page and as global.asa, the result must hold together: every script line maps to a
// line of one of the files read, every stretch of page text is text of one of the
// files, and an error names one of those files at one of its lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <variant>

#include "host/pages/page_template.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

size_t LinesOf(std::string_view text) {
  size_t lines = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
      ++lines;
    }
  }
  return lines;
}

void CheckResult(const std::variant<pages::PageTemplate, pages::TemplateError>& parsed,
                 const std::map<std::string, std::string>& files) {
  if (const auto* error = std::get_if<pages::TemplateError>(&parsed)) {
    const auto file = files.find(error->where.file);
    Check(file != files.end());
    Check(error->where.line >= 0 &&
          static_cast<size_t>(error->where.line) <= LinesOf(file->second));
    return;
  }
  const auto& page = std::get<pages::PageTemplate>(parsed);
  size_t scriptLines = 1;
  for (const char c : page.script) scriptLines += c == '\n';
  Check(page.lines.size() == scriptLines);
  for (const pages::PageTemplate::LineSource& line : page.lines) {
    Check(line.file < page.files.size());
    const auto file = files.find(page.files[line.file]);
    Check(file != files.end());
    Check(line.line >= 1 && static_cast<size_t>(line.line) <= LinesOf(file->second));
  }
  for (const std::string& text : page.texts) {
    bool found = false;
    for (const auto& [name, content] : files)
      found = found || content.find(text) != std::string::npos;
    Check(found);
  }
  for (size_t line = 0; line <= scriptLines + 1; ++line) page.Locate(static_cast<int>(line));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::map<std::string, std::string> files;
  size_t start = 0;
  for (int index = 0; start <= input.size() && index < 8; ++index) {
    size_t end = input.find(std::string_view("\0\0", 2), start);
    if (end == std::string_view::npos) end = input.size();
    files[index == 0 ? "/page.asp" : "/" + std::to_string(index) + ".inc"] =
        std::string(input.substr(start, end - start));
    start = end + 2;
  }
  const pages::SiteFileReader read = [&files](const std::string& path, std::string* content,
                                              std::string* error) {
    const auto found = files.find(path);
    if (found == files.end()) {
      *error = "no such file";
      return false;
    }
    *content = found->second;
    return true;
  };
  CheckResult(pages::ParsePageTemplate("/page.asp", read), files);
  CheckResult(pages::ParseGlobalFile("/page.asp", read), files);
  return 0;
}
