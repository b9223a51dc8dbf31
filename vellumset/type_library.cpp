#include "vellumset/type_library.h"

#include "platform/automation/binding.h"
#include "vellumset/dictionary.h"
#include "vellumset/image.h"
#include "vellumset/images.h"
#include "vellumset/interfaces.h"

namespace vellumset {

namespace {

using automation::Bind;
using automation::Binding;
using automation::MemberDesc;
using automation::MemberKind;
using automation::ParamDesc;
using automation::TypeDesc;

const TypeDesc kUnknownType{VT_UNKNOWN, {}};

ParamDesc Required(std::string name, TypeDesc type = automation::kVariantType) {
  return {std::move(name), std::move(type), false, {}};
}

MemberDesc Member(DISPID id, MemberKind kind, std::string name, Binding binding,
                  std::vector<ParamDesc> params = {}, TypeDesc result = automation::kNoValue) {
  std::string help = (kind == MemberKind::kMethod ? "method " : "property ") + name;
  return {id,
          kind,
          std::move(name),
          std::move(params),
          std::move(result),
          std::move(help),
          std::move(binding)};
}

std::vector<MemberDesc> DictionaryMembers() {
  using Kind = MemberKind;
  const std::vector<ParamDesc> keyAndItem = {Required("Key"), Required("Item")};
  return {
      Member(0, Kind::kGet, "Item", Bind<&IDictionary::get_Item>(), {Required("Key")},
             automation::kVariantType),
      Member(0, Kind::kPut, "Item", Bind<&IDictionary::put_Item>(), keyAndItem),
      Member(0, Kind::kPutRef, "Item", Bind<&IDictionary::putref_Item>(), keyAndItem),
      Member(1, Kind::kMethod, "Add", Bind<&IDictionary::Add>(), keyAndItem),
      Member(2, Kind::kGet, "Count", Bind<&IDictionary::get_Count>(), {}, automation::kLongType),
      Member(3, Kind::kMethod, "Exists", Bind<&IDictionary::Exists>(), {Required("Key")},
             automation::kBoolType),
      Member(4, Kind::kMethod, "Items", Bind<&IDictionary::Items>(), {}, automation::kVariantType),
      Member(5, Kind::kPut, "Key", Bind<&IDictionary::put_Key>(), keyAndItem),
      Member(6, Kind::kMethod, "Keys", Bind<&IDictionary::Keys>(), {}, automation::kVariantType),
      Member(7, Kind::kMethod, "Remove", Bind<&IDictionary::Remove>(), {Required("Key")}),
      Member(8, Kind::kMethod, "RemoveAll", Bind<&IDictionary::RemoveAll>()),
      Member(9, Kind::kMethod, "LoadItems", Bind<&IDictionary::LoadItems>(),
             {Required("FileName"), {"Delimiter", automation::kVariantType, true, {}}}),
      Member(DISPID_NEWENUM, Kind::kMethod, "_NewEnum", Bind<&IDictionary::_NewEnum>(), {},
             kUnknownType),
  };
}

std::vector<MemberDesc> ImagesMembers() {
  using Kind = MemberKind;
  return {
      Member(0, Kind::kGet, "Item", Bind<&IImages::get_Item>(), {Required("Key")},
             automation::Interface("IImage")),
      Member(1, Kind::kMethod, "LoadImage", Bind<&IImages::LoadImage>(),
             {Required("ImageName"),
              Required("ImageSource"),
              {"Format", automation::Enum("EZImageFormat"), true, 0}}),
      Member(3, Kind::kGet, "Count", Bind<&IImages::get_Count>(), {}, automation::kLongType),
      Member(4, Kind::kGet, "ChunkSize", Bind<&IImages::get_ChunkSize>(), {},
             automation::kLongType),
      Member(4, Kind::kPut, "ChunkSize", Bind<&IImages::put_ChunkSize>(),
             {Required("newVal", automation::kLongType)}),
      Member(5, Kind::kMethod, "SaveImage", Bind<&IImages::SaveImage>(),
             {Required("Image"), {"ImageDestination", automation::kVariantType, true, {}}},
             automation::kVariantType),
      Member(6, Kind::kMethod, "Remove", Bind<&IImages::Remove>(), {Required("Image")}),
      Member(7, Kind::kMethod, "RemoveAll", Bind<&IImages::RemoveAll>()),
      Member(9, Kind::kMethod, "Exists", Bind<&IImages::Exists>(), {Required("Image")},
             automation::kBoolType),
      Member(DISPID_NEWENUM, Kind::kGet, "_NewEnum", Bind<&IImages::get__NewEnum>(), {},
             kUnknownType),
  };
}

std::vector<MemberDesc> ImageMembers() {
  using Kind = MemberKind;
  return {
      Member(0, Kind::kGet, "Image", Bind<&IImage::get_Image>(), {}, automation::kVariantType),
      Member(1, Kind::kGet, "Name", Bind<&IImage::get_Name>(), {}, automation::kStringType),
      Member(2, Kind::kGet, "Ordinal", Bind<&IImage::get_Ordinal>(), {}, automation::kLongType),
      Member(3, Kind::kGet, "Format", Bind<&IImage::get_Format>(), {},
             automation::Enum("EZImageFormat")),
  };
}

automation::TypeLibraryDesc DescribeLibrary() {
  automation::TypeLibraryDesc library;
  library.name = "VELLUMSETLib";
  library.libid = LIBID_VELLUMSETLib;
  library.majorVersion = 1;
  library.minorVersion = 0;
  library.help = "VellumSet 1.0 Type Library";
  library.enums = {{"EZImageFormat",
                    {},
                    {{"EZJpeg", EZJpeg, {}},
                     {"EZGif", EZGif, {}},
                     {"EZTif", EZTif, {}},
                     {"EZWmf", EZWmf, {}},
                     {"EZBmp", EZBmp, {}},
                     {"EZPcx", EZPcx, {}},
                     {"EZPng", EZPng, {}},
                     {"EZPsd", EZPsd, {}},
                     {"EZWebp", EZWebp, {}},
                     {"EZAvif", EZAvif, {}}}}};
  library.interfaces = {
      {"IImages", IID_IImages, "IImages Interface", ImagesMembers()},
      {"IImage", IID_IImage, "IImage Interface", ImageMembers()},
      {"IDictionary", IID_IDictionary, "IDictionary Interface", DictionaryMembers()}};
  // EnumImages implements IEnumVARIANT, which lies outside the library.
  library.classes = {{"Images", CLSID_Images, "Images Class", "IImages"},
                     {"Image", CLSID_Image, "Image Class", "IImage"},
                     {"Dictionary", CLSID_Dictionary, "Dictionary Class", "IDictionary"},
                     {"EnumImages", CLSID_EnumImages, "EnumImages Class", ""}};
  return library;
}

}  // namespace

std::shared_ptr<const automation::TypeLibraryDesc> VellumSetLibrary() {
  static const std::shared_ptr<const automation::TypeLibraryDesc> library =
      automation::ShareLibrary(DescribeLibrary());
  return library;
}

const automation::BoundInterface& DictionaryInterface() {
  static const automation::BoundInterface bound =
      automation::BindInterface(VellumSetLibrary(), IID_IDictionary);
  return bound;
}

const automation::BoundInterface& ImagesInterface() {
  static const automation::BoundInterface bound =
      automation::BindInterface(VellumSetLibrary(), IID_IImages);
  return bound;
}

const automation::BoundInterface& ImageInterface() {
  static const automation::BoundInterface bound =
      automation::BindInterface(VellumSetLibrary(), IID_IImage);
  return bound;
}

}  // namespace vellumset
