#include "platform/registry/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace registry {

namespace {

constexpr std::string_view kHeader = "VELLUM-REGISTRY 1";

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Splits "a\b\c" into its names, skipping empty ones.
std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> names;
  while (!path.empty()) {
    const size_t end = path.find('\\');
    const std::string_view name = path.substr(0, end);
    if (!name.empty()) names.push_back(name);
    if (end == std::string_view::npos) break;
    path.remove_prefix(end + 1);
  }
  return names;
}

// ---- the file format ----
//
//   VELLUM-REGISTRY 1
//   key "HKEY_CLASSES_ROOT" "CLSID"
//   value "" "the default value"
//   value "ThreadingModel" "both"
//
// Every key is one `key` line naming its full path, followed by its values; texts are
// quoted, with \\, \", \n, \r, \t and \xHH escapes for the other control characters.

void AppendQuoted(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

void SerializeKey(std::string& out, const RegistryKey& key, std::vector<std::string_view>& path) {
  out += "key";
  for (const std::string_view name : path) {
    out += ' ';
    AppendQuoted(out, name);
  }
  out += '\n';
  for (const auto& [name, value] : key.values()) {
    out += "value ";
    AppendQuoted(out, name);
    out += ' ';
    AppendQuoted(out, value);
    out += '\n';
  }
  for (const auto& [name, subkey] : key.subkeys()) {
    path.push_back(name);
    SerializeKey(out, subkey, path);
    path.pop_back();
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads one quoted text at line[pos], moving pos past it and one following space.
std::optional<std::string> ReadQuoted(std::string_view line, size_t& pos) {
  if (pos >= line.size() || line[pos] != '"') return std::nullopt;
  std::string text;
  for (++pos; pos < line.size(); ++pos) {
    char c = line[pos];
    if (c == '"') {
      ++pos;
      if (pos < line.size()) {
        if (line[pos] != ' ') return std::nullopt;
        ++pos;
      }
      return text;
    }
    if (c == '\\') {
      if (++pos >= line.size()) return std::nullopt;
      switch (line[pos]) {
        case '\\':
        case '"':
          c = line[pos];
          break;
        case 'n':
          c = '\n';
          break;
        case 'r':
          c = '\r';
          break;
        case 't':
          c = '\t';
          break;
        case 'x': {
          if (pos + 2 >= line.size()) return std::nullopt;
          const int high = HexValue(line[pos + 1]);
          const int low = HexValue(line[pos + 2]);
          if (high < 0 || low < 0) return std::nullopt;
          c = static_cast<char>(high * 16 + low);
          pos += 2;
          break;
        }
        default:
          return std::nullopt;
      }
    }
    text += c;
  }
  return std::nullopt;
}

// Applies one line to the tree; `current` is the key the last `key` line named.
bool ParseLine(std::string_view line, RegistryKey& root, RegistryKey*& current) {
  size_t pos = 0;
  if (line.starts_with("key")) {
    pos = line.size() > 3 ? 4 : 3;
    if (line.size() > 3 && line[3] != ' ') return false;
    RegistryKey* key = &root;
    while (pos < line.size()) {
      const std::optional<std::string> name = ReadQuoted(line, pos);
      if (!name || name->empty() || name->find('\\') != std::string::npos) return false;
      key = &key->Create(*name);
    }
    current = key;
    return true;
  }
  if (line.starts_with("value ") && current != nullptr) {
    pos = 6;
    const std::optional<std::string> name = ReadQuoted(line, pos);
    if (!name) return false;
    const std::optional<std::string> value = ReadQuoted(line, pos);
    if (!value || pos != line.size()) return false;
    current->SetValue(*name, *value);
    return true;
  }
  return false;
}

// ---- files ----

bool ReadWholeFile(int fd, std::string& text) {
  text.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buffer, static_cast<size_t>(n));
  }
}

bool WriteWholeFile(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Reads and parses the registry file; an empty tree when it does not exist.
HRESULT LoadFile(const std::string& path, std::unique_ptr<RegistryKey>& root, struct stat* info) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) return REGDB_E_READREGDB;
    root = std::make_unique<RegistryKey>();
    if (info != nullptr) *info = {};
    return S_OK;
  }
  std::string text;
  const bool read = (info == nullptr || fstat(fd, info) == 0) && ReadWholeFile(fd, text);
  close(fd);
  if (!read) return REGDB_E_READREGDB;
  root = ParseRegistry(text);
  return root != nullptr ? S_OK : REGDB_E_READREGDB;
}

// Writes the text to a new file beside the registry and renames it into place.
HRESULT CommitFile(const std::string& path, const std::string& text) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return REGDB_E_WRITEREGDB;
  const bool written = fchmod(fd, 0644) == 0 && WriteWholeFile(fd, text) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return REGDB_E_WRITEREGDB;
  }
  return S_OK;
}

// Holds the registry's cross-process lock (an flock on a file beside it).
class WriterLock {
 public:
  explicit WriterLock(const std::string& path) {
    fd_ = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    int result;
    do {
      result = flock(fd_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~WriterLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The last snapshot read, reused while the file is the same one. Every commit renames
// a new file into place, so a change of inode, size or time means a new version.
struct SnapshotCache {
  std::mutex mutex;
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified = {};
  std::shared_ptr<const RegistryKey> root;

  bool Matches(const std::string& p, const struct stat& info) const {
    return root != nullptr && p == path && info.st_dev == device && info.st_ino == inode &&
           info.st_size == size && info.st_mtim.tv_sec == modified.tv_sec &&
           info.st_mtim.tv_nsec == modified.tv_nsec;
  }
  void Store(const std::string& p, const struct stat& info, std::shared_ptr<const RegistryKey> r) {
    path = p;
    device = info.st_dev;
    inode = info.st_ino;
    size = info.st_size;
    modified = info.st_mtim;
    root = std::move(r);
  }
};

SnapshotCache& Cache() {
  static SnapshotCache cache;
  return cache;
}

// True when the path names something (a registry that cannot be read still counts,
// so that the failure is reported rather than another registry silently used).
bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 || errno != ENOENT;
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const passwd* entry = getpwuid(getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/tmp";
}

}  // namespace

bool NameLess::operator()(std::string_view a, std::string_view b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char x = FoldCase(a[i]);
    const char y = FoldCase(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  return a.size() < b.size();
}

const RegistryKey* RegistryKey::Find(std::string_view path) const {
  const RegistryKey* key = this;
  for (const std::string_view name : SplitPath(path)) {
    const auto found = key->subkeys_.find(name);
    if (found == key->subkeys_.end()) return nullptr;
    key = &found->second;
  }
  return key;
}

RegistryKey* RegistryKey::Find(std::string_view path) {
  return const_cast<RegistryKey*>(std::as_const(*this).Find(path));
}

RegistryKey& RegistryKey::Create(std::string_view path) {
  RegistryKey* key = this;
  for (const std::string_view name : SplitPath(path)) {
    auto found = key->subkeys_.find(name);
    if (found == key->subkeys_.end())
      found = key->subkeys_.emplace(std::string(name), RegistryKey()).first;
    key = &found->second;
  }
  return *key;
}

bool RegistryKey::RemoveSubkey(std::string_view name) {
  const auto found = subkeys_.find(name);
  if (found == subkeys_.end()) return false;
  subkeys_.erase(found);
  return true;
}

const std::string* RegistryKey::Value(std::string_view name) const {
  const auto found = values_.find(name);
  return found == values_.end() ? nullptr : &found->second;
}

void RegistryKey::SetValue(std::string_view name, std::string value) {
  const auto found = values_.find(name);
  if (found != values_.end()) {
    found->second = std::move(value);
  } else {
    values_.emplace(std::string(name), std::move(value));
  }
}

bool RegistryKey::RemoveValue(std::string_view name) {
  const auto found = values_.find(name);
  if (found == values_.end()) return false;
  values_.erase(found);
  return true;
}

std::string UserRegistryPath() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const std::string base = dataHome != nullptr && dataHome[0] == '/'
                               ? std::string(dataHome)
                               : HomeDirectory() + "/.local/share";
  return base + "/vellum/registry";
}

std::string SystemRegistryPath() {
  const char* configured = std::getenv("VELLUM_SYSTEM_REGISTRY");
  if (configured != nullptr && configured[0] != '\0') return configured;
  return VELLUM_SYSTEM_REGISTRY;
}

std::string RegistryPath() {
  const char* configured = std::getenv("VELLUM_REGISTRY");
  if (configured != nullptr && configured[0] != '\0') return configured;
  std::string user = UserRegistryPath();
  if (FileExists(user)) return user;
  std::string system = SystemRegistryPath();
  return FileExists(system) ? system : user;
}

std::string WrittenRegistryPath() {
  const char* configured = std::getenv("VELLUM_REGISTRY");
  if (configured != nullptr && configured[0] != '\0') return configured;
  return UserRegistryPath();
}

std::string SerializeRegistry(const RegistryKey& root) {
  std::string out(kHeader);
  out += '\n';
  std::vector<std::string_view> path;
  for (const auto& [name, hive] : root.subkeys()) {
    path.push_back(name);
    SerializeKey(out, hive, path);
    path.pop_back();
  }
  return out;
}

std::unique_ptr<RegistryKey> ParseRegistry(std::string_view text) {
  auto root = std::make_unique<RegistryKey>();
  RegistryKey* current = nullptr;
  bool first = true;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (first) {
      if (line != kHeader) return nullptr;
      first = false;
    } else if (!line.empty() && !ParseLine(line, *root, current)) {
      return nullptr;
    }
  }
  if (first) return nullptr;
  // Values belong to keys; a value line before any key line is refused by ParseLine.
  return root;
}

HRESULT ReadRegistry(std::shared_ptr<const RegistryKey>* root) {
  if (root == nullptr) return E_POINTER;
  try {
    const std::string path = RegistryPath();
    struct stat info {};
    SnapshotCache& cache = Cache();
    if (stat(path.c_str(), &info) == 0) {
      std::lock_guard lock(cache.mutex);
      if (cache.Matches(path, info)) {
        *root = cache.root;
        return S_OK;
      }
    }
    std::unique_ptr<RegistryKey> loaded;
    const HRESULT hr = LoadFile(path, loaded, &info);
    if (FAILED(hr)) return hr;
    std::shared_ptr<const RegistryKey> snapshot(std::move(loaded));
    if (info.st_ino != 0) {
      std::lock_guard lock(cache.mutex);
      cache.Store(path, info, snapshot);
    }
    *root = std::move(snapshot);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UpdateRegistry(const std::function<HRESULT(RegistryKey& root)>& change) {
  try {
    const std::string path = WrittenRegistryPath();
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    const WriterLock lock(path);
    if (!lock.Held()) return REGDB_E_WRITEREGDB;
    std::unique_ptr<RegistryKey> root;
    // A new per-user registry starts as a copy of the system one, so that what the
    // system registered stays visible to the user.
    const bool seeded = !FileExists(path) && path != RegistryPath();
    HRESULT hr = LoadFile(seeded ? SystemRegistryPath() : path, root, nullptr);
    if (FAILED(hr)) return hr;
    const std::string before = SerializeRegistry(*root);
    hr = change(*root);
    if (FAILED(hr)) return hr;
    const std::string after = SerializeRegistry(*root);
    if (after == before) return hr;
    const HRESULT committed = CommitFile(path, after);
    return FAILED(committed) ? committed : hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT QueryValue(std::string_view hiveName, std::string_view keyPath, std::string_view valueName,
                   std::string* value) {
  std::shared_ptr<const RegistryKey> root;
  const HRESULT hr = ReadRegistry(&root);
  if (FAILED(hr)) return hr;
  const RegistryKey* hive = root->Find(hiveName);
  const RegistryKey* key = hive != nullptr ? hive->Find(keyPath) : nullptr;
  const std::string* found = key != nullptr ? key->Value(valueName) : nullptr;
  if (found == nullptr) return S_FALSE;
  try {
    if (value != nullptr) *value = *found;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace registry
