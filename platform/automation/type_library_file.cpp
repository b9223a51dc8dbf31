#include "platform/automation/type_library_file.h"

#include <cstring>
#include <type_traits>
#include <variant>
#include <vector>

namespace automation {

namespace {

constexpr char kMagic[4] = {'V', 'T', 'L', 'B'};
constexpr uint16_t kFormatVersion = 1;

enum ConstantTag : uint8_t { kTagNone = 0, kTagInt = 1, kTagReal = 2, kTagText = 3 };

// Writing and reading share one description of the layout: Transfer(archive, value)
// visits every field in file order; the Writer appends each, the Reader fills each in.
// Both archives offer Raw, Number, Text, Items, Fail and ok.
class Writer {
 public:
  static constexpr bool kReading = false;
  bool ok() const { return true; }
  void Fail() {}

  void Raw(void* data, size_t size) { out_.append(static_cast<const char*>(data), size); }
  template <typename T>
  void Number(T& value) {
    Raw(&value, sizeof value);  // the platforms we build for are little-endian
  }
  void Text(std::string& text) {
    auto size = static_cast<uint32_t>(text.size());
    Number(size);
    Raw(text.data(), text.size());
  }
  // A u32 count, then each item.
  template <typename T, typename Each>
  void Items(std::vector<T>& items, size_t /*minimumItemBytes*/, Each each) {
    auto count = static_cast<uint32_t>(items.size());
    Number(count);
    for (T& item : items) each(item);
  }

  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

// Reads with a bound check on every field; the first failure sticks.
class Reader {
 public:
  static constexpr bool kReading = true;
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  void Fail() { ok_ = false; }
  bool AtEnd() const { return bytes_.empty(); }

  void Raw(void* data, size_t size) {
    if (!ok_ || bytes_.size() < size) return Fail();
    std::memcpy(data, bytes_.data(), size);
    bytes_.remove_prefix(size);
  }
  template <typename T>
  void Number(T& value) {
    value = T{};
    Raw(&value, sizeof value);
  }
  void Text(std::string& text) {
    uint32_t size = 0;
    Number(size);
    if (!ok_ || bytes_.size() < size) return Fail();
    text.assign(bytes_.substr(0, size));
    bytes_.remove_prefix(size);
  }
  // A count of items that each take at least `minimumItemBytes`, refused when the rest
  // of the data could not hold that many; then each item.
  template <typename T, typename Each>
  void Items(std::vector<T>& items, size_t minimumItemBytes, Each each) {
    uint32_t count = 0;
    Number(count);
    if (ok_ && static_cast<uint64_t>(count) * minimumItemBytes > bytes_.size()) Fail();
    for (uint32_t i = 0; i < count && ok_; ++i) each(items.emplace_back());
  }

 private:
  std::string_view bytes_;
  bool ok_ = true;
};

template <typename Archive>
void Transfer(Archive& archive, GUID& guid) {
  archive.Number(guid.Data1);
  archive.Number(guid.Data2);
  archive.Number(guid.Data3);
  archive.Raw(guid.Data4, sizeof guid.Data4);
}

template <typename Archive>
void Transfer(Archive& archive, TypeDesc& type) {
  archive.Number(type.vt);
  archive.Text(type.name);
}

uint8_t TagOf(const Constant& constant) {
  if (std::holds_alternative<int32_t>(constant)) return kTagInt;
  if (std::holds_alternative<double>(constant)) return kTagReal;
  if (std::holds_alternative<std::string>(constant)) return kTagText;
  return kTagNone;
}

// The empty alternative a tag names, for the reader to fill in; false for an unknown tag.
bool ConstantForTag(uint8_t tag, Constant& constant) {
  switch (tag) {
    case kTagNone:
      constant = std::monostate{};
      return true;
    case kTagInt:
      constant = int32_t{};
      return true;
    case kTagReal:
      constant = double{};
      return true;
    case kTagText:
      constant = std::string{};
      return true;
    default:
      return false;
  }
}

// A tag, then the value of that alternative.
template <typename Archive>
void Transfer(Archive& archive, Constant& constant) {
  uint8_t tag = TagOf(constant);
  archive.Number(tag);
  if (Archive::kReading && !ConstantForTag(tag, constant)) return archive.Fail();
  std::visit(
      [&archive](auto& value) {
        using Value = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<Value, std::string>) {
          archive.Text(value);
        } else if constexpr (!std::is_same_v<Value, std::monostate>) {
          archive.Number(value);
        }
      },
      constant);
}

bool IsMemberKind(uint8_t kind) { return kind == 1 || kind == 2 || kind == 4 || kind == 8; }

template <typename Archive>
void Transfer(Archive& archive, ParamDesc& param) {
  archive.Text(param.name);
  Transfer(archive, param.type);
  uint8_t optional = param.optional ? 1 : 0;
  archive.Number(optional);
  param.optional = optional != 0;
  Transfer(archive, param.defaultValue);
}

template <typename Archive>
void Transfer(Archive& archive, MemberDesc& member) {
  archive.Number(member.id);
  auto kind = static_cast<uint8_t>(member.kind);
  archive.Number(kind);
  if (!IsMemberKind(kind)) archive.Fail();
  member.kind = static_cast<MemberKind>(kind);
  archive.Text(member.name);
  archive.Text(member.help);
  Transfer(archive, member.result);
  archive.Items(member.params, 12, [&](ParamDesc& param) { Transfer(archive, param); });
}

template <typename Archive>
void Transfer(Archive& archive, TypeLibraryDesc& library) {
  Transfer(archive, library.libid);
  archive.Number(library.majorVersion);
  archive.Number(library.minorVersion);
  archive.Number(library.lcid);
  archive.Text(library.name);
  archive.Text(library.help);
  archive.Items(library.enums, 12, [&](EnumDesc& e) {
    archive.Text(e.name);
    archive.Text(e.help);
    archive.Items(e.values, 12, [&](EnumValue& value) {
      archive.Text(value.name);
      archive.Number(value.value);
      archive.Text(value.help);
    });
  });
  archive.Items(library.interfaces, 28, [&](InterfaceDesc& i) {
    archive.Text(i.name);
    Transfer(archive, i.iid);
    archive.Text(i.help);
    archive.Items(i.members, 23, [&](MemberDesc& member) { Transfer(archive, member); });
  });
  archive.Items(library.classes, 28, [&](ClassDesc& c) {
    archive.Text(c.name);
    Transfer(archive, c.clsid);
    archive.Text(c.help);
    archive.Text(c.defaultInterface);
  });
}

// The magic and the format version; the reader fails on others.
template <typename Archive>
void TransferHeader(Archive& archive) {
  char magic[sizeof kMagic];
  std::memcpy(magic, kMagic, sizeof magic);
  archive.Raw(magic, sizeof magic);
  if (std::memcmp(magic, kMagic, sizeof magic) != 0) archive.Fail();
  uint16_t version = kFormatVersion;
  archive.Number(version);
  if (version != kFormatVersion) archive.Fail();
}

}  // namespace

std::string SerializeTypeLibrary(const TypeLibraryDesc& library) {
  Writer out;
  TransferHeader(out);
  TypeLibraryDesc copy = library;  // the shared routine takes its fields by reference
  Transfer(out, copy);
  return out.Take();
}

std::unique_ptr<TypeLibraryDesc> ParseTypeLibrary(std::string_view bytes) {
  try {
    Reader in(bytes);
    TransferHeader(in);
    if (!in.ok()) return nullptr;
    auto library = std::make_unique<TypeLibraryDesc>();
    Transfer(in, *library);
    if (!in.ok() || !in.AtEnd() || !CheckLibrary(*library).empty()) return nullptr;
    return library;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace automation
