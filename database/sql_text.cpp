#include "database/sql_text.h"

#include <algorithm>
#include <cctype>

namespace database {

namespace {

bool IsIdentifierStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool IsIdentifierPart(char c) {
  return IsIdentifierStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$';
}

// One piece of the text: either passed over whole (quoted, commented) or a single
// character of plain SQL.
class Scanner {
 public:
  explicit Scanner(std::string_view sql) : sql_(sql) {}

  bool AtEnd() const { return at_ >= sql_.size(); }
  size_t Position() const { return at_; }
  char Peek(size_t ahead = 0) const { return at_ + ahead < sql_.size() ? sql_[at_ + ahead] : '\0'; }
  char Previous() const { return at_ > 0 ? sql_[at_ - 1] : '\0'; }
  void Advance(size_t count = 1) { at_ = std::min(at_ + count, sql_.size()); }

  // Skips a quoted text, quoted name, comment or dollar-quoted body starting here;
  // false when none starts here. Sets `blank` for a comment.
  bool SkipQuotedOrComment(bool* blank) {
    *blank = false;
    const char c = Peek();
    if (c == '\'') {
      const bool escapes =
          (Previous() == 'E' || Previous() == 'e') && (at_ < 2 || !IsIdentifierPart(sql_[at_ - 2]));
      SkipQuoted('\'', escapes);
      return true;
    }
    if (c == '"') {
      SkipQuoted('"', false);
      return true;
    }
    if (c == '-' && Peek(1) == '-') {
      while (!AtEnd() && Peek() != '\n') Advance();
      *blank = true;
      return true;
    }
    if (c == '/' && Peek(1) == '*') {
      SkipBlockComment();
      *blank = true;
      return true;
    }
    if (c == '$' && !IsIdentifierPart(Previous())) return SkipDollarQuoted();
    return false;
  }

  // The identifier starting here (possibly empty).
  std::string_view Identifier() const {
    size_t end = at_;
    if (end < sql_.size() && IsIdentifierStart(sql_[end])) {
      while (end < sql_.size() && IsIdentifierPart(sql_[end]) && sql_[end] != '$') ++end;
    }
    return sql_.substr(at_, end - at_);
  }

 private:
  void SkipQuoted(char quote, bool escapes) {
    Advance();
    while (!AtEnd()) {
      const char c = Peek();
      // A backslash escape (in an escape string) or a doubled quote is two characters.
      const bool pair = (escapes && c == '\\') || (c == quote && Peek(1) == quote);
      if (!pair && c == quote) {
        Advance();
        return;
      }
      Advance(pair ? 2 : 1);
    }
  }

  void SkipBlockComment() {
    int depth = 0;
    while (!AtEnd()) {
      if (Peek() == '/' && Peek(1) == '*') {
        ++depth, Advance(2);
      } else if (Peek() == '*' && Peek(1) == '/') {
        Advance(2);
        if (--depth == 0) return;
      } else {
        Advance();
      }
    }
  }

  // $tag$ ... $tag$ (the tag may be empty); not a $1 placeholder.
  bool SkipDollarQuoted() {
    size_t end = at_ + 1;
    if (end < sql_.size() && std::isdigit(static_cast<unsigned char>(sql_[end]))) return false;
    while (end < sql_.size() && IsIdentifierPart(sql_[end]) && sql_[end] != '$') ++end;
    if (end >= sql_.size() || sql_[end] != '$') return false;
    const std::string_view tag = sql_.substr(at_, end - at_ + 1);
    const size_t close = sql_.find(tag, end + 1);
    at_ = close == std::string_view::npos ? sql_.size() : close + tag.size();
    return true;
  }

  std::string_view sql_;
  size_t at_ = 0;
};

bool HasNumberedPlaceholder(std::string_view sql) {
  Scanner scan(sql);
  bool blank = false;
  while (!scan.AtEnd()) {
    if (scan.SkipQuotedOrComment(&blank)) continue;
    if (scan.Peek() == '$' && std::isdigit(static_cast<unsigned char>(scan.Peek(1))) &&
        !IsIdentifierPart(scan.Previous())) {
      return true;
    }
    scan.Advance();
  }
  return false;
}

}  // namespace

TranslatedSql TranslatePlaceholders(std::string_view sql, Placeholders style) {
  TranslatedSql out;
  const bool named = style == Placeholders::kNames;
  const bool questionMarks = style == Placeholders::kQuestionMarks && !HasNumberedPlaceholder(sql);
  int positional = 0;
  bool statementHasText = false;
  Scanner scan(sql);
  bool blank = false;
  while (!scan.AtEnd()) {
    const size_t start = scan.Position();
    if (scan.SkipQuotedOrComment(&blank)) {
      out.text.append(sql.substr(start, scan.Position() - start));
      statementHasText = statementHasText || !blank;
      continue;
    }
    const char c = scan.Peek();
    if (c == ';') {
      if (statementHasText) ++out.statements;
      statementHasText = false;
    } else if (!std::isspace(static_cast<unsigned char>(c))) {
      statementHasText = true;
    }
    if (c == '?' && questionMarks) {
      out.text += "$" + std::to_string(++positional);
      scan.Advance();
      continue;
    }
    if (c == ':' && named && scan.Previous() != ':' && IsIdentifierStart(scan.Peek(1))) {
      scan.Advance();
      const std::string name(scan.Identifier());
      auto found = std::find(out.names.begin(), out.names.end(), name);
      if (found == out.names.end()) found = out.names.insert(out.names.end(), name);
      out.text += "$" + std::to_string(found - out.names.begin() + 1);
      scan.Advance(name.size());
      continue;
    }
    out.text += c;
    scan.Advance();
  }
  if (statementHasText) ++out.statements;
  return out;
}

}  // namespace database
