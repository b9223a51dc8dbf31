#include "database/connection_string.h"

#include <libpq-fe.h>

#include <cctype>

namespace database {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

bool IsLibpqKeyword(std::string_view word) {
  PQconninfoOption* options = PQconndefaults();
  bool known = false;
  for (const PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr;
       ++option) {
    known = known || word == option->keyword;
  }
  PQconninfoFree(options);
  return known;
}

// "keyword =" at the start, with a keyword libpq knows.
bool LooksLikeKeyValue(std::string_view text) {
  size_t end = 0;
  while (end < text.size() &&
         (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) {
    ++end;
  }
  if (end == 0) return false;
  size_t at = end;
  while (at < text.size() && text[at] == ' ') ++at;
  return at < text.size() && text[at] == '=' && IsLibpqKeyword(text.substr(0, end));
}

}  // namespace

std::optional<ConnectionTarget> ParseConnectionString(std::string_view text, std::string* error) {
  text = Trimmed(text);
  if (text.empty()) {
    *error = "the connection string is empty";
    return std::nullopt;
  }
  if (StartsWithNoCase(text, "postgresql://") || StartsWithNoCase(text, "postgres://") ||
      LooksLikeKeyValue(text)) {
    return ConnectionTarget{Engine::kPostgres, std::string(text)};
  }
  if (StartsWithNoCase(text, "sqlite:")) {
    text.remove_prefix(7);
    if (text.starts_with("//")) text.remove_prefix(2);
    if (text.empty()) {
      *error = "the connection string names no SQLite file";
      return std::nullopt;
    }
  }
  return ConnectionTarget{Engine::kSqlite, std::string(text)};
}

}  // namespace database
