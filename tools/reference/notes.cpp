#include "tools/reference/notes.h"

namespace reference {

namespace {

// Strips the blank lines at both ends of a section.
std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of('\n');
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of('\n');
  return text.substr(first, last - first + 1);
}

class NotesParser {
 public:
  NotesParser(const std::string& fileName, std::vector<std::string>* problems)
      : fileName_(fileName), problems_(problems) {}

  LibraryNotes Run(std::string_view text) {
    bool inFence = false;
    while (!text.empty()) {
      const size_t end = text.find('\n');
      const std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      ++lineNumber_;
      if (line.starts_with("```")) inFence = !inFence;
      if (!inFence && line.starts_with("# ")) {
        StartSection(line.substr(2));
      } else if (!inFence && line.starts_with("## ")) {
        StartMember(line.substr(3));
      } else if (target_ != nullptr) {
        target_->append(line);
        target_->push_back('\n');
      } else if (!line.empty()) {
        Report("text before the first section");
      }
    }
    Finish();
    return std::move(notes_);
  }

 private:
  void Report(const std::string& problem) {
    problems_->push_back(fileName_ + ":" + std::to_string(lineNumber_) + ": " + problem);
  }

  void Finish() {
    if (target_ != nullptr) *target_ = Trimmed(*target_);
    target_ = nullptr;
  }

  // Points the text that follows at a new entry of `sections`, refusing a repeat.
  void Open(std::map<std::string, std::string>& sections, const std::string& name,
            const std::string& what) {
    const auto [entry, added] = sections.try_emplace(name);
    if (!added) Report(what + " " + name + " is described twice");
    target_ = &entry->second;
  }

  void StartSection(std::string_view heading) {
    Finish();
    object_ = nullptr;
    const size_t space = heading.find(' ');
    const std::string kind(heading.substr(0, space));
    const std::string name(space == std::string_view::npos ? "" : heading.substr(space + 1));
    if (name.empty()) {
      Report("a section heading needs a kind and a name");
    } else if (kind == "Library") {
      if (!notes_.libraryName.empty()) Report("the library is described twice");
      notes_.libraryName = name;
      target_ = &notes_.library;
    } else if (kind == "Enum") {
      Open(notes_.enums, name, "enumeration");
    } else if (kind == "Class") {
      Open(notes_.classes, name, "class");
    } else if (kind == "Object") {
      const size_t equals = name.find(" = ");
      const std::string objectName = name.substr(0, equals);
      const auto [entry, added] = notes_.objects.try_emplace(objectName);
      if (!added) Report("object " + objectName + " is described twice");
      object_ = &entry->second;
      if (equals != std::string::npos) object_->interface = name.substr(equals + 3);
      target_ = &object_->intro;
    } else {
      Report("unknown section kind '" + kind + "' (Library, Enum, Class or Object)");
    }
  }

  void StartMember(std::string_view heading) {
    Finish();
    if (object_ == nullptr) {
      Report("member " + std::string(heading) + " outside an Object section");
      return;
    }
    Open(object_->members, std::string(heading), "member");
  }

  const std::string& fileName_;
  std::vector<std::string>* problems_;
  int lineNumber_ = 0;
  LibraryNotes notes_;
  ObjectNotes* object_ = nullptr;
  std::string* target_ = nullptr;
};

}  // namespace

LibraryNotes ParseNotes(std::string_view text, const std::string& fileName,
                        std::vector<std::string>* problems) {
  return NotesParser(fileName, problems).Run(text);
}

}  // namespace reference
