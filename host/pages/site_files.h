// The files of a site reached by their site paths ("/shop/photo.asp"), confined to the
// site's folder, and the page templates made from them, kept between requests.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/pages/page_template.h"

namespace pages {

class SiteFiles {
 public:
  // `root` is the site folder's real path.
  explicit SiteFiles(std::string root) : root_(std::move(root)) {}

  const std::string& Root() const { return root_; }
  // The real path of the regular file a site path names, when it lies inside the site
  // (symbolic links included); false with the reason otherwise.
  bool Resolve(const std::string& sitePath, std::string* real, std::string* error) const;
  // Reads such a file (at most kMaxTemplateBytes).
  bool Read(const std::string& sitePath, std::string* content, std::string* error) const;
  // The site path of a real path inside the site ("/" for the root); empty outside.
  std::string SitePathOf(const std::string& real) const;

 private:
  std::string root_;
};

// Templates made once and made again when one of their files changes.
class TemplateCache {
 public:
  explicit TemplateCache(const SiteFiles& files) : files_(files) {}

  // The page template (or global.asa's, with `global`) of a site path; null with the
  // error otherwise.
  std::shared_ptr<const PageTemplate> Get(const std::string& sitePath, bool global,
                                          TemplateError* error);

 private:
  struct Stamp {
    std::string real;
    int64_t modified = 0;  // nanoseconds
    int64_t size = 0;
    uint64_t inode = 0;
    bool operator==(const Stamp&) const = default;
  };
  struct Entry {
    std::shared_ptr<const PageTemplate> made;
    std::vector<Stamp> stamps;  // of each file, in the template's order
  };

  bool StampOf(const std::string& sitePath, Stamp* stamp) const;
  bool Current(const Entry& entry) const;

  const SiteFiles& files_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace pages
