#include "host/pages/page_template.h"

#include <algorithm>

namespace pages {

namespace {

enum class Mode { kPage, kGlobal };

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsFolded(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

bool StartsFolded(std::string_view text, size_t at, std::string_view prefix) {
  return at <= text.size() && text.size() - at >= prefix.size() &&
         EqualsFolded(text.substr(at, prefix.size()), prefix);
}

size_t FindFolded(std::string_view text, std::string_view wanted, size_t from) {
  for (size_t at = from; at + wanted.size() <= text.size(); ++at) {
    if (StartsFolded(text, at, wanted)) return at;
  }
  return std::string_view::npos;
}

// Line breaks as scripts count them: LF, CR LF, or a CR alone.
int CountLines(std::string_view text) {
  int lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
      ++lines;
    }
  }
  return lines;
}

bool IsScriptLanguage(std::string_view language) {
  return EqualsFolded(language, "JScript") || EqualsFolded(language, "JavaScript");
}

// name=value pairs, as in a directive or a tag: values quoted with " or ', or bare.
class AttributeReader {
 public:
  explicit AttributeReader(std::string_view text) : text_(text) {}

  // The next pair; false at the end, or with `malformed` set when the text is not pairs.
  bool Next(std::string_view* name, std::string_view* value, bool* malformed) {
    SkipSpace();
    *malformed = false;
    if (at_ >= text_.size()) return false;
    const size_t nameStart = at_;
    while (at_ < text_.size() && !IsSpace(text_[at_]) && text_[at_] != '=' && text_[at_] != '"' &&
           text_[at_] != '\'') {
      ++at_;
    }
    *name = text_.substr(nameStart, at_ - nameStart);
    SkipSpace();
    if (name->empty() || at_ >= text_.size() || text_[at_] != '=') {
      *malformed = true;
      return false;
    }
    ++at_;
    SkipSpace();
    if (at_ < text_.size() && (text_[at_] == '"' || text_[at_] == '\'')) {
      const char quote = text_[at_++];
      const size_t end = text_.find(quote, at_);
      if (end == std::string_view::npos) {
        *malformed = true;
        return false;
      }
      *value = text_.substr(at_, end - at_);
      at_ = end + 1;
      return true;
    }
    const size_t valueStart = at_;
    while (at_ < text_.size() && !IsSpace(text_[at_])) ++at_;
    *value = text_.substr(valueStart, at_ - valueStart);
    if (value->empty()) *malformed = true;
    return !value->empty();
  }

 private:
  void SkipSpace() {
    while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
  }

  std::string_view text_;
  size_t at_ = 0;
};

// What the scanner found at a '<' of a file.
struct IncludeDirective {
  size_t end = 0;  // just after "-->"
  std::string target;
};

class TemplateBuilder {
 public:
  TemplateBuilder(Mode mode, const SiteFileReader& read) : mode_(mode), read_(read) {
    made_.lines.push_back({0, 1});
  }

  std::optional<TemplateError> AddFile(const std::string& sitePath, int depth,
                                       const SourcePosition& includedAt) {
    std::string content;
    std::string problem;
    if (!read_(sitePath, &content, &problem)) {
      if (depth == 0) return TemplateError{{sitePath, 0}, problem};
      return TemplateError{includedAt, "cannot include " + sitePath + ": " + problem};
    }
    if (content.size() > kMaxTemplateBytes - totalBytes_) {
      return TemplateError{includedAt, "the page and its includes are larger than 16 MiB"};
    }
    totalBytes_ += content.size();
    made_.files.push_back(sitePath);
    return Scan(content, static_cast<uint32_t>(made_.files.size() - 1), depth);
  }

  PageTemplate Take() { return std::move(made_); }

 private:
  TemplateError ErrorAt(uint32_t file, int line, std::string message) const {
    return {{made_.files[file], line}, std::move(message)};
  }

  void NewLine(uint32_t file, int line) {
    made_.script += '\n';
    made_.lines.push_back({file, line});
  }

  // Script text as it stands in the file; its lines keep their file lines. A CR alone
  // becomes LF, so that each line break is one line to both the engine and the map.
  void Copy(std::string_view code, uint32_t file, int line) {
    for (size_t i = 0; i < code.size(); ++i) {
      const char c = code[i];
      if (c == '\n' || (c == '\r' && (i + 1 == code.size() || code[i + 1] != '\n'))) {
        NewLine(file, ++line);
      } else if (c != '\r') {
        made_.script += c;
      }
    }
  }

  void EmitText(std::string_view text, uint32_t file, int line) {
    if (text.empty() || mode_ == Mode::kGlobal) return;
    NewLine(file, line);
    made_.script += "__vellum_text(" + std::to_string(made_.texts.size()) + ");";
    made_.texts.emplace_back(text);
  }

  void EmitCode(std::string_view code, uint32_t file, int line) {
    NewLine(file, line);
    Copy(code, file, line);
    scriptSeen_ = true;
  }

  void EmitOutput(std::string_view expression, uint32_t file, int line) {
    NewLine(file, line);
    made_.script += "__vellum_write(";
    Copy(expression, file, line);
    NewLine(file, line + CountLines(expression));
    made_.script += ");";
    scriptSeen_ = true;
  }

  std::optional<TemplateError> Directive(std::string_view text, uint32_t file, int line) {
    if (mode_ == Mode::kGlobal) return ErrorAt(file, line, "global.asa takes no @ directive");
    if (directiveSeen_ || scriptSeen_) {
      return ErrorAt(file, line, "the @ directive must come once, before any script of the page");
    }
    directiveSeen_ = true;
    AttributeReader attributes(text);
    std::string_view name;
    std::string_view value;
    bool malformed = false;
    while (attributes.Next(&name, &value, &malformed)) {
      if (EqualsFolded(name, "Language")) {
        if (!IsScriptLanguage(value)) return UnsupportedLanguage(value, file, line);
      } else if (EqualsFolded(name, "EnableSessionState")) {
        if (!EqualsFolded(value, "True") && !EqualsFolded(value, "False")) {
          return ErrorAt(file, line, "EnableSessionState is True or False");
        }
        made_.sessionState = EqualsFolded(value, "True");
      } else if (EqualsFolded(name, "StrictErrors")) {
        if (!EqualsFolded(value, "True") && !EqualsFolded(value, "False")) {
          return ErrorAt(file, line, "StrictErrors is True or False");
        }
        made_.strictErrors = EqualsFolded(value, "True");
      } else if (EqualsFolded(name, "CodePage")) {
        if (value != "65001") return ErrorAt(file, line, "pages are UTF-8 (CodePage 65001)");
      } else if (!EqualsFolded(name, "LCID")) {
        return ErrorAt(file, line, "unknown @ directive attribute " + std::string(name));
      }
    }
    if (malformed) return ErrorAt(file, line, "the @ directive is not name=value pairs");
    return std::nullopt;
  }

  TemplateError UnsupportedLanguage(std::string_view language, uint32_t file, int line) const {
    TemplateError error = ErrorAt(
        file, line,
        "only JScript or JavaScript pages run here, not " + std::string(language.substr(0, 40)));
    error.unsupportedLanguage = true;
    return error;
  }

  // A <% %> block starting at `at`; its end is stored in `end`.
  std::optional<TemplateError> Block(std::string_view content, size_t at, uint32_t file, int line,
                                     size_t* end) {
    const size_t close = content.find("%>", at + 2);
    if (close == std::string_view::npos) return ErrorAt(file, line, "a <% block is not closed");
    *end = close + 2;
    std::string_view inner = content.substr(at + 2, close - at - 2);
    if (!inner.empty() && inner[0] == '@') return Directive(inner.substr(1), file, line);
    if (mode_ == Mode::kGlobal) {
      return ErrorAt(file, line, "global.asa holds only <script runat=\"server\"> blocks");
    }
    if (!inner.empty() && inner[0] == '=') {
      EmitOutput(inner.substr(1), file, line);
    } else {
      EmitCode(inner, file, line);
    }
    return std::nullopt;
  }

  // The #include directive at `at` ("<!-- #include file|virtual="..." -->"), or
  // nothing when it cannot be read.
  static std::optional<IncludeDirective> Include(std::string_view content, size_t at) {
    const size_t keyword = FindFolded(content, "#include", at);
    const size_t close = content.find("-->", keyword);
    if (close == std::string_view::npos) return std::nullopt;
    AttributeReader attributes(content.substr(keyword + 8, close - keyword - 8));
    std::string_view name;
    std::string_view value;
    bool malformed = false;
    if (!attributes.Next(&name, &value, &malformed) || value.empty() ||
        !(EqualsFolded(name, "file") || EqualsFolded(name, "virtual"))) {
      return std::nullopt;
    }
    std::string_view rest;
    if (attributes.Next(&rest, &rest, &malformed) || malformed) return std::nullopt;
    return IncludeDirective{close + 3, std::string(value)};
  }

  std::optional<TemplateError> IncludeFile(const IncludeDirective& include, uint32_t file, int line,
                                           int depth) {
    const std::optional<std::string> target = ResolveSitePath(made_.files[file], include.target);
    if (!target) return ErrorAt(file, line, "the include " + include.target + " leaves the site");
    if (depth + 1 > kMaxIncludeDepth) {
      return ErrorAt(file, line, "includes nest more than 16 deep (does a file include itself?)");
    }
    return AddFile(*target, depth + 1, {made_.files[file], line});
  }

  // A <script runat="server" ...> tag at `at`: its content is script; `end` is set
  // after its closing tag.
  std::optional<TemplateError> ServerScript(std::string_view content, size_t at, uint32_t file,
                                            int line, size_t* end) {
    const size_t tagEnd = content.find('>', at);
    AttributeReader attributes(content.substr(at + 7, tagEnd - at - 7));
    std::string_view name;
    std::string_view value;
    bool malformed = false;
    std::string_view language = "JScript";
    while (attributes.Next(&name, &value, &malformed)) {
      if (EqualsFolded(name, "language")) language = value;
    }
    if (!IsScriptLanguage(language)) return UnsupportedLanguage(language, file, line);
    const size_t close = FindFolded(content, "</script", tagEnd + 1);
    const size_t closeEnd = close == std::string_view::npos ? close : content.find('>', close);
    if (closeEnd == std::string_view::npos) {
      return ErrorAt(file, line, "a <script runat=\"server\"> block is not closed");
    }
    const std::string_view code = content.substr(tagEnd + 1, close - tagEnd - 1);
    EmitCode(code, file, line + CountLines(content.substr(at, tagEnd + 1 - at)));
    *end = closeEnd + 1;
    return std::nullopt;
  }

  // The server part at `at` (StartsServerPart said there is one); `end` is set after it.
  std::optional<TemplateError> ServerPart(std::string_view content, size_t at, uint32_t file,
                                          int line, int depth, size_t* end) {
    if (content.compare(at, 2, "<%") == 0) return Block(content, at, file, line, end);
    if (content.compare(at, 4, "<!--") == 0) {
      const std::optional<IncludeDirective> include = Include(content, at);
      if (!include) return ErrorAt(file, line, "cannot read the #include directive");
      *end = include->end;
      return IncludeFile(*include, file, line, depth);
    }
    return ServerScript(content, at, file, line, end);
  }

  std::optional<TemplateError> Scan(std::string_view content, uint32_t file, int depth) {
    size_t textStart = 0;
    int textLine = 1;
    size_t at = 0;
    while ((at = content.find('<', at)) != std::string_view::npos) {
      if (!StartsServerPart(content, at)) {
        ++at;
        continue;
      }
      const std::string_view text = content.substr(textStart, at - textStart);
      const int line = textLine + CountLines(text);
      EmitText(text, file, textLine);  // the text before a part is written before it runs
      size_t end = at;
      if (std::optional<TemplateError> error = ServerPart(content, at, file, line, depth, &end)) {
        return error;
      }
      textLine = line + CountLines(content.substr(at, end - at));
      textStart = at = end;
    }
    EmitText(content.substr(textStart), file, textLine);
    return std::nullopt;
  }

  // Whether the '<' at `at` starts a server part: a <% %> block, an #include, or a
  // <script runat="server"> tag.
  static bool StartsServerPart(std::string_view content, size_t at) {
    if (content.compare(at, 2, "<%") == 0) return true;
    if (content.compare(at, 4, "<!--") == 0) {
      size_t i = at + 4;
      while (i < content.size() && IsSpace(content[i])) ++i;
      return StartsFolded(content, i, "#include");
    }
    if (!StartsFolded(content, at, "<script") || at + 7 >= content.size() ||
        !(IsSpace(content[at + 7]) || content[at + 7] == '>')) {
      return false;
    }
    const size_t tagEnd = content.find('>', at);
    if (tagEnd == std::string_view::npos) return false;
    AttributeReader attributes(content.substr(at + 7, tagEnd - at - 7));
    std::string_view name;
    std::string_view value;
    bool malformed = false;
    while (attributes.Next(&name, &value, &malformed)) {
      if (EqualsFolded(name, "runat") && EqualsFolded(value, "server")) return true;
    }
    return false;
  }

  Mode mode_;
  const SiteFileReader& read_;
  PageTemplate made_;
  size_t totalBytes_ = 0;
  bool directiveSeen_ = false;
  bool scriptSeen_ = false;
};

std::variant<PageTemplate, TemplateError> Build(Mode mode, const std::string& path,
                                                const SiteFileReader& read) {
  TemplateBuilder builder(mode, read);
  if (std::optional<TemplateError> error = builder.AddFile(path, 0, {path, 0})) {
    return *std::move(error);
  }
  return builder.Take();
}

}  // namespace

SourcePosition PageTemplate::Locate(int scriptLine) const {
  if (lines.empty() || files.empty()) return {};
  const size_t index = std::clamp<size_t>(scriptLine < 1 ? 0 : static_cast<size_t>(scriptLine - 1),
                                          0, lines.size() - 1);
  return {files[lines[index].file], lines[index].line};
}

std::string TemplateError::Text() const {
  if (where.line <= 0) return where.file + ": " + message;
  return where.file + ", line " + std::to_string(where.line) + ": " + message;
}

std::variant<PageTemplate, TemplateError> ParsePageTemplate(const std::string& pagePath,
                                                            const SiteFileReader& read) {
  return Build(Mode::kPage, pagePath, read);
}

std::variant<PageTemplate, TemplateError> ParseGlobalFile(const std::string& path,
                                                          const SiteFileReader& read) {
  return Build(Mode::kGlobal, path, read);
}

std::optional<std::string> ResolveSitePath(std::string_view fromPath, std::string_view target) {
  if (target.find('\0') != std::string_view::npos) return std::nullopt;
  std::string joined;
  if (target.empty() || (target[0] != '/' && target[0] != '\\')) {
    const size_t slash = fromPath.rfind('/');
    joined = std::string(fromPath.substr(0, slash == std::string_view::npos ? 0 : slash));
  }
  joined += '/';
  joined += target;
  std::vector<std::string_view> segments;
  std::string_view rest = joined;
  while (!rest.empty()) {
    const size_t cut = rest.find_first_of("/\\");
    const std::string_view segment = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      if (segments.empty()) return std::nullopt;
      segments.pop_back();
    } else {
      segments.push_back(segment);
    }
  }
  std::string path;
  for (const std::string_view segment : segments) {
    path += '/';
    path += segment;
  }
  return path.empty() ? "/" : path;
}

}  // namespace pages
