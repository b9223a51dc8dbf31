#include "platform/registry/registrar.h"

#include <algorithm>
#include <optional>

#include "platform/registry/registry_store.h"

namespace registry {

namespace {

enum class KeyFlag { kNone, kNoRemove, kForceRemove, kDelete };

struct ScriptValue {
  std::string name;
  std::string text;
};

struct ScriptKey {
  KeyFlag flag = KeyFlag::kNone;
  std::string name;
  std::optional<std::string> defaultValue;
  std::vector<ScriptValue> values;
  std::vector<ScriptKey> subkeys;
};

struct ScriptHive {
  std::string name;
  std::vector<ScriptKey> keys;
};

struct Token {
  std::string text;
  bool quoted = false;

  bool Is(std::string_view word) const {
    if (quoted || text.size() != word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      const char a = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
      const char b = word[i] >= 'A' && word[i] <= 'Z' ? static_cast<char>(word[i] + 32) : word[i];
      if (a != b) return false;
    }
    return true;
  }
};

std::optional<std::string> Substitute(std::string_view script,
                                      const ScriptReplacements& replacements) {
  std::string out;
  while (!script.empty()) {
    const size_t percent = script.find('%');
    out.append(script.substr(0, percent));
    if (percent == std::string_view::npos) break;
    const size_t end = script.find('%', percent + 1);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view name = script.substr(percent + 1, end - percent - 1);
    if (name.empty()) {
      out += '%';
    } else {
      const auto found = std::find_if(replacements.begin(), replacements.end(),
                                      [&](const auto& entry) { return entry.first == name; });
      if (found == replacements.end()) return std::nullopt;
      out += found->second;
    }
    script.remove_prefix(end + 1);
  }
  return out;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::optional<std::vector<Token>> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  size_t pos = 0;
  while (pos < text.size()) {
    if (IsSpace(text[pos])) {
      ++pos;
      continue;
    }
    Token token;
    if (text[pos] == '\'') {
      token.quoted = true;
      for (++pos;; ++pos) {
        if (pos >= text.size()) return std::nullopt;
        if (text[pos] == '\'') {
          if (pos + 1 < text.size() && text[pos + 1] == '\'') {
            token.text += '\'';
            ++pos;
            continue;
          }
          ++pos;
          break;
        }
        token.text += text[pos];
      }
    } else {
      while (pos < text.size() && !IsSpace(text[pos])) token.text += text[pos++];
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  std::optional<std::vector<ScriptHive>> Script() {
    std::vector<ScriptHive> hives;
    while (pos_ < tokens_.size()) {
      ScriptHive hive;
      const std::optional<std::string> name = HiveName();
      if (!name || !Expect("{")) return std::nullopt;
      hive.name = *name;
      if (!Body(hive.keys, nullptr)) return std::nullopt;
      hives.push_back(std::move(hive));
    }
    return hives;
  }

 private:
  const Token* Next() { return pos_ < tokens_.size() ? &tokens_[pos_++] : nullptr; }
  const Token* Peek() const { return pos_ < tokens_.size() ? &tokens_[pos_] : nullptr; }
  bool Expect(std::string_view word) {
    const Token* token = Next();
    return token != nullptr && token->Is(word);
  }

  std::optional<std::string> HiveName() {
    static constexpr std::pair<std::string_view, std::string_view> kHives[] = {
        {"HKCR", "HKEY_CLASSES_ROOT"},  {"HKEY_CLASSES_ROOT", "HKEY_CLASSES_ROOT"},
        {"HKCU", "HKEY_CURRENT_USER"},  {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER"},
        {"HKLM", "HKEY_LOCAL_MACHINE"}, {"HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE"},
        {"HKU", "HKEY_USERS"},          {"HKEY_USERS", "HKEY_USERS"}};
    const Token* token = Next();
    if (token == nullptr) return std::nullopt;
    for (const auto& [alias, name] : kHives) {
      if (token->Is(alias)) return std::string(name);
    }
    return std::nullopt;
  }

  // "s 'text'": the only value type the registry stores.
  std::optional<std::string> StringValue() {
    if (!Expect("s")) return std::nullopt;
    const Token* text = Next();
    if (text == nullptr || !text->quoted) return std::nullopt;
    return text->text;
  }

  // A name: a word that is not punctuation, or a quoted text without backslashes.
  std::optional<std::string> Name() {
    const Token* token = Next();
    if (token == nullptr || token->text.empty() || token->Is("{") || token->Is("}") ||
        token->Is("=") || token->text.find('\\') != std::string::npos) {
      return std::nullopt;
    }
    return token->text;
  }

  // The entries of a block up to its closing brace. Named values go to `values`
  // (null at hive level, where they are not allowed).
  bool Body(std::vector<ScriptKey>& keys, std::vector<ScriptValue>* values) {
    for (;;) {
      const Token* token = Peek();
      if (token == nullptr) return false;
      if (token->Is("}")) {
        ++pos_;
        return true;
      }
      if (token->Is("val")) {
        ++pos_;
        const std::optional<std::string> name = Name();
        if (values == nullptr || !name || !Expect("=")) return false;
        const std::optional<std::string> text = StringValue();
        if (!text) return false;
        values->push_back({*name, *text});
        continue;
      }
      std::optional<ScriptKey> key = Key();
      if (!key) return false;
      keys.push_back(std::move(*key));
    }
  }

  std::optional<ScriptKey> Key() {
    ScriptKey key;
    const Token* token = Peek();
    if (token->Is("NoRemove")) key.flag = KeyFlag::kNoRemove;
    if (token->Is("ForceRemove")) key.flag = KeyFlag::kForceRemove;
    if (token->Is("Delete")) key.flag = KeyFlag::kDelete;
    if (key.flag != KeyFlag::kNone) ++pos_;
    const std::optional<std::string> name = Name();
    if (!name) return std::nullopt;
    key.name = *name;
    const Token* next = Peek();
    if (next != nullptr && next->Is("=")) {
      ++pos_;
      key.defaultValue = StringValue();
      if (!key.defaultValue) return std::nullopt;
      next = Peek();
    }
    if (next != nullptr && next->Is("{")) {
      ++pos_;
      if (!Body(key.subkeys, &key.values)) return std::nullopt;
    }
    return key;
  }

  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

void Register(RegistryKey& parent, const ScriptKey& entry) {
  if (entry.flag == KeyFlag::kDelete || entry.flag == KeyFlag::kForceRemove) {
    parent.RemoveSubkey(entry.name);
    if (entry.flag == KeyFlag::kDelete) return;
  }
  RegistryKey& key = parent.Create(entry.name);
  if (entry.defaultValue) key.SetValue("", *entry.defaultValue);
  for (const ScriptValue& value : entry.values) key.SetValue(value.name, value.text);
  for (const ScriptKey& subkey : entry.subkeys) Register(key, subkey);
}

void Unregister(RegistryKey& parent, const ScriptKey& entry) {
  if (entry.flag == KeyFlag::kDelete) return;
  RegistryKey* key = parent.Find(entry.name);
  if (key == nullptr) return;
  if (entry.flag == KeyFlag::kForceRemove) {
    parent.RemoveSubkey(entry.name);
    return;
  }
  for (const ScriptKey& subkey : entry.subkeys) Unregister(*key, subkey);
  for (const ScriptValue& value : entry.values) key->RemoveValue(value.name);
  if (entry.flag != KeyFlag::kNoRemove && key->subkeys().empty()) parent.RemoveSubkey(entry.name);
}

}  // namespace

std::string DoubleSingleQuotes(std::string_view text) {
  std::string out;
  for (const char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

HRESULT RunRegistryScript(std::string_view script, const ScriptReplacements& replacements,
                          bool registering) {
  std::optional<std::vector<ScriptHive>> hives;
  try {
    const std::optional<std::string> text = Substitute(script, replacements);
    std::optional<std::vector<Token>> tokens = text ? Tokenize(*text) : std::nullopt;
    if (tokens) hives = Parser(std::move(*tokens)).Script();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!hives) return DISP_E_EXCEPTION;
  return UpdateRegistry([&](RegistryKey& root) {
    for (const ScriptHive& hive : *hives) {
      RegistryKey* hiveKey = registering ? &root.Create(hive.name) : root.Find(hive.name);
      if (hiveKey == nullptr) continue;
      for (const ScriptKey& key : hive.keys) {
        if (registering) {
          Register(*hiveKey, key);
        } else {
          Unregister(*hiveKey, key);
        }
      }
    }
    return S_OK;
  });
}

}  // namespace registry
