#include "host/pages/site_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace pages {

bool SiteFiles::Resolve(const std::string& sitePath, std::string* real, std::string* error) const {
  if (sitePath.empty() || sitePath[0] != '/' || sitePath.find('\0') != std::string::npos) {
    *error = "not a path of the site";
    return false;
  }
  const std::string joined = root_ + sitePath;
  char resolved[PATH_MAX];
  if (realpath(joined.c_str(), resolved) == nullptr) {
    *error = std::strerror(errno);
    return false;
  }
  *real = resolved;
  if (real->compare(0, root_.size(), root_) != 0 ||
      (real->size() > root_.size() && (*real)[root_.size()] != '/')) {
    *error = "it leads out of the site";
    return false;
  }
  struct stat status {};
  if (stat(resolved, &status) != 0 || !S_ISREG(status.st_mode)) {
    *error = "not a file";
    return false;
  }
  return true;
}

bool SiteFiles::Read(const std::string& sitePath, std::string* content, std::string* error) const {
  std::string real;
  if (!Resolve(sitePath, &real, error)) return false;
  const int descriptor = open(real.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    *error = std::strerror(errno);
    return false;
  }
  content->clear();
  char piece[65536];
  ssize_t got = 0;
  while ((got = read(descriptor, piece, sizeof piece)) > 0) {
    if (content->size() + static_cast<size_t>(got) > kMaxTemplateBytes) {
      close(descriptor);
      *error = "larger than 16 MiB";
      return false;
    }
    content->append(piece, static_cast<size_t>(got));
  }
  const int readError = got < 0 ? errno : 0;
  close(descriptor);
  if (readError != 0) {
    *error = std::strerror(readError);
    return false;
  }
  return true;
}

std::string SiteFiles::SitePathOf(const std::string& real) const {
  if (real == root_) return "/";
  if (real.compare(0, root_.size(), root_) != 0 || real.size() <= root_.size() ||
      real[root_.size()] != '/') {
    return "";
  }
  return real.substr(root_.size());
}

bool TemplateCache::StampOf(const std::string& sitePath, Stamp* stamp) const {
  std::string error;
  if (!files_.Resolve(sitePath, &stamp->real, &error)) return false;
  struct stat status {};
  if (stat(stamp->real.c_str(), &status) != 0) return false;
  stamp->modified =
      static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
  stamp->size = status.st_size;
  stamp->inode = status.st_ino;
  return true;
}

bool TemplateCache::Current(const Entry& entry) const {
  for (size_t i = 0; i < entry.stamps.size(); ++i) {
    Stamp now;
    if (!StampOf(entry.made->files[i], &now) || !(now == entry.stamps[i])) return false;
  }
  return true;
}

std::shared_ptr<const PageTemplate> TemplateCache::Get(const std::string& sitePath, bool global,
                                                       TemplateError* error) {
  {
    const std::lock_guard held(mutex_);
    const auto found = entries_.find(sitePath);
    if (found != entries_.end() && Current(found->second)) return found->second.made;
  }
  const SiteFileReader read = [this](const std::string& path, std::string* content,
                                     std::string* problem) {
    return files_.Read(path, content, problem);
  };
  auto parsed = global ? ParseGlobalFile(sitePath, read) : ParsePageTemplate(sitePath, read);
  if (std::holds_alternative<TemplateError>(parsed)) {
    *error = std::get<TemplateError>(std::move(parsed));
    return nullptr;
  }
  auto made = std::make_shared<const PageTemplate>(std::get<PageTemplate>(std::move(parsed)));
  // Stamped after reading: a file changed while it was read keeps the template made
  // from it until it changes again (a page is not meant to change under load).
  std::vector<Stamp> stamps;
  for (const std::string& file : made->files) {
    Stamp stamp;
    StampOf(file, &stamp);
    stamps.push_back(std::move(stamp));
  }
  const std::lock_guard held(mutex_);
  entries_[sitePath] = {made, std::move(stamps)};
  return made;
}

}  // namespace pages
