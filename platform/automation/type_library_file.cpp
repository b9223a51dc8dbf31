#include "platform/automation/type_library_file.h"

#include <cstring>

namespace automation {

namespace {

constexpr char kMagic[4] = {'V', 'T', 'L', 'B'};
constexpr uint16_t kFormatVersion = 1;

enum ConstantTag : uint8_t { kTagNone = 0, kTagInt = 1, kTagReal = 2, kTagText = 3 };

class Writer {
 public:
  void Bytes(const void* data, size_t size) { out_.append(static_cast<const char*>(data), size); }
  template <typename T>
  void Number(T value) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof value);  // the platforms we build for are little-endian
    Bytes(bytes, sizeof bytes);
  }
  void Text(std::string_view text) {
    Number(static_cast<uint32_t>(text.size()));
    Bytes(text.data(), text.size());
  }
  void Guid(const GUID& guid) {
    Number(guid.Data1);
    Number(guid.Data2);
    Number(guid.Data3);
    Bytes(guid.Data4, sizeof guid.Data4);
  }
  void Type(const TypeDesc& type) {
    Number(type.vt);
    Text(type.name);
  }
  void Value(const Constant& constant) {
    if (const auto* integer = std::get_if<int32_t>(&constant)) {
      Number(static_cast<uint8_t>(kTagInt));
      Number(*integer);
    } else if (const auto* real = std::get_if<double>(&constant)) {
      Number(static_cast<uint8_t>(kTagReal));
      Number(*real);
    } else if (const auto* text = std::get_if<std::string>(&constant)) {
      Number(static_cast<uint8_t>(kTagText));
      Text(*text);
    } else {
      Number(static_cast<uint8_t>(kTagNone));
    }
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

// Reads with a bound check on every field; the first failure sticks.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return bytes_.empty(); }

  bool Bytes(void* data, size_t size) {
    if (!ok_ || bytes_.size() < size) return ok_ = false;
    std::memcpy(data, bytes_.data(), size);
    bytes_.remove_prefix(size);
    return true;
  }
  template <typename T>
  T Number() {
    T value{};
    Bytes(&value, sizeof value);
    return value;
  }
  std::string Text() {
    const auto size = Number<uint32_t>();
    if (!ok_ || bytes_.size() < size) {
      ok_ = false;
      return {};
    }
    std::string text(bytes_.substr(0, size));
    bytes_.remove_prefix(size);
    return text;
  }
  // A count of items that each take at least `minimum` bytes; refused when the rest
  // of the data could not hold that many.
  uint32_t Count(size_t minimum) {
    const auto count = Number<uint32_t>();
    if (ok_ && static_cast<uint64_t>(count) * minimum > bytes_.size()) ok_ = false;
    return ok_ ? count : 0;
  }
  GUID Guid() {
    GUID guid{};
    guid.Data1 = Number<uint32_t>();
    guid.Data2 = Number<uint16_t>();
    guid.Data3 = Number<uint16_t>();
    Bytes(guid.Data4, sizeof guid.Data4);
    return guid;
  }
  TypeDesc Type() {
    TypeDesc type;
    type.vt = Number<uint16_t>();
    type.name = Text();
    return type;
  }
  Constant Value() {
    switch (Number<uint8_t>()) {
      case kTagNone:
        return {};
      case kTagInt:
        return Number<int32_t>();
      case kTagReal:
        return Number<double>();
      case kTagText:
        return Text();
      default:
        ok_ = false;
        return {};
    }
  }
  bool Fail() { return ok_ = false; }

 private:
  std::string_view bytes_;
  bool ok_ = true;
};

bool IsMemberKind(uint8_t kind) { return kind == 1 || kind == 2 || kind == 4 || kind == 8; }

void ReadMember(Reader& in, MemberDesc& member) {
  member.id = in.Number<int32_t>();
  const auto kind = in.Number<uint8_t>();
  if (!IsMemberKind(kind)) in.Fail();
  member.kind = static_cast<MemberKind>(kind);
  member.name = in.Text();
  member.help = in.Text();
  member.result = in.Type();
  const uint32_t params = in.Count(12);
  for (uint32_t k = 0; k < params && in.ok(); ++k) {
    ParamDesc param;
    param.name = in.Text();
    param.type = in.Type();
    param.optional = in.Number<uint8_t>() != 0;
    param.defaultValue = in.Value();
    member.params.push_back(std::move(param));
  }
}

}  // namespace

std::string SerializeTypeLibrary(const TypeLibraryDesc& library) {
  Writer out;
  out.Bytes(kMagic, sizeof kMagic);
  out.Number(kFormatVersion);
  out.Guid(library.libid);
  out.Number(library.majorVersion);
  out.Number(library.minorVersion);
  out.Number(library.lcid);
  out.Text(library.name);
  out.Text(library.help);
  out.Number(static_cast<uint32_t>(library.enums.size()));
  for (const EnumDesc& e : library.enums) {
    out.Text(e.name);
    out.Text(e.help);
    out.Number(static_cast<uint32_t>(e.values.size()));
    for (const EnumValue& value : e.values) {
      out.Text(value.name);
      out.Number(value.value);
      out.Text(value.help);
    }
  }
  out.Number(static_cast<uint32_t>(library.interfaces.size()));
  for (const InterfaceDesc& i : library.interfaces) {
    out.Text(i.name);
    out.Guid(i.iid);
    out.Text(i.help);
    out.Number(static_cast<uint32_t>(i.members.size()));
    for (const MemberDesc& member : i.members) {
      out.Number(member.id);
      out.Number(static_cast<uint8_t>(member.kind));
      out.Text(member.name);
      out.Text(member.help);
      out.Type(member.result);
      out.Number(static_cast<uint32_t>(member.params.size()));
      for (const ParamDesc& param : member.params) {
        out.Text(param.name);
        out.Type(param.type);
        out.Number(static_cast<uint8_t>(param.optional ? 1 : 0));
        out.Value(param.defaultValue);
      }
    }
  }
  out.Number(static_cast<uint32_t>(library.classes.size()));
  for (const ClassDesc& c : library.classes) {
    out.Text(c.name);
    out.Guid(c.clsid);
    out.Text(c.help);
    out.Text(c.defaultInterface);
  }
  return out.Take();
}

std::unique_ptr<TypeLibraryDesc> ParseTypeLibrary(std::string_view bytes) {
  try {
    Reader in(bytes);
    char magic[4] = {};
    in.Bytes(magic, sizeof magic);
    if (!in.ok() || std::memcmp(magic, kMagic, sizeof magic) != 0) return nullptr;
    if (in.Number<uint16_t>() != kFormatVersion) return nullptr;
    auto library = std::make_unique<TypeLibraryDesc>();
    library->libid = in.Guid();
    library->majorVersion = in.Number<uint16_t>();
    library->minorVersion = in.Number<uint16_t>();
    library->lcid = in.Number<uint32_t>();
    library->name = in.Text();
    library->help = in.Text();
    const uint32_t enums = in.Count(12);
    for (uint32_t i = 0; i < enums && in.ok(); ++i) {
      EnumDesc& e = library->enums.emplace_back();
      e.name = in.Text();
      e.help = in.Text();
      const uint32_t values = in.Count(12);
      for (uint32_t v = 0; v < values && in.ok(); ++v) {
        EnumValue& value = e.values.emplace_back();
        value.name = in.Text();
        value.value = in.Number<int32_t>();
        value.help = in.Text();
      }
    }
    const uint32_t interfaces = in.Count(28);
    for (uint32_t i = 0; i < interfaces && in.ok(); ++i) {
      InterfaceDesc& desc = library->interfaces.emplace_back();
      desc.name = in.Text();
      desc.iid = in.Guid();
      desc.help = in.Text();
      const uint32_t members = in.Count(23);
      for (uint32_t m = 0; m < members && in.ok(); ++m) ReadMember(in, desc.members.emplace_back());
    }
    const uint32_t classes = in.Count(28);
    for (uint32_t i = 0; i < classes && in.ok(); ++i) {
      ClassDesc& c = library->classes.emplace_back();
      c.name = in.Text();
      c.clsid = in.Guid();
      c.help = in.Text();
      c.defaultInterface = in.Text();
    }
    if (!in.ok() || !in.AtEnd() || !CheckLibrary(*library).empty()) return nullptr;
    return library;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace automation
