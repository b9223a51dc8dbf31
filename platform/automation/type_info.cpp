#include "platform/automation/type_info.h"

#include <algorithm>
#include <type_traits>

#include "platform/automation/dispatch.h"
#include "platform/com/object.h"

namespace automation {

namespace {

constexpr WORD kDispatchMethods = 7;  // IUnknown's three and IDispatch's four

// What GetFuncDesc hands out: one block, released with ReleaseFuncDesc. Standard
// layout, so the FUNCDESC at its start converts back to the block.
struct FuncDescBlock {
  FUNCDESC desc;
  ELEMDESC params[kMaxParams];
  PARAMDESCEX defaults[kMaxParams];
  TYPEDESC pointees[kMaxParams + 1];
};
static_assert(std::is_standard_layout_v<FuncDescBlock>);

struct VarDescBlock {
  VARDESC desc;
  VARIANT value;
};
static_assert(std::is_standard_layout_v<VarDescBlock>);

HRESULT CopyText(const std::string& text, BSTR* target) {
  if (target == nullptr) return S_OK;
  *target = text.empty() ? nullptr : AllocBstrFromUtf8(text);
  return text.empty() || *target != nullptr ? S_OK : E_OUTOFMEMORY;
}

class TypeLibObject;

class TypeInfoObject final : public ComObject<ITypeInfo> {
 public:
  explicit TypeInfoObject(IUnknown* outer) : ComObject(outer) {}

  void Attach(std::shared_ptr<const TypeLibraryDesc> library, UINT index) {
    library_ = std::move(library);
    index_ = index;
    const size_t enums = library_->enums.size();
    const size_t interfaces = library_->interfaces.size();
    if (index_ < enums) {
      enum_ = &library_->enums[index_];
    } else if (index_ < enums + interfaces) {
      interface_ = &library_->interfaces[index_ - enums];
    } else {
      class_ = &library_->classes[index_ - enums - interfaces];
    }
  }

  HRESULT GetTypeAttr(TYPEATTR** attributes) override {
    if (attributes == nullptr) return E_INVALIDARG;
    auto* attr = new (std::nothrow) TYPEATTR{};
    if (attr == nullptr) return E_OUTOFMEMORY;
    attr->lcid = library_->lcid;
    attr->memidConstructor = MEMBERID_NIL;
    attr->memidDestructor = MEMBERID_NIL;
    attr->cbAlignment = sizeof(void*);
    attr->wMajorVerNum = library_->majorVersion;
    attr->wMinorVerNum = library_->minorVersion;
    if (enum_ != nullptr) {
      attr->typekind = TKIND_ENUM;
      attr->cVars = static_cast<WORD>(enum_->values.size());
      attr->cbSizeInstance = sizeof(LONG);
    } else if (interface_ != nullptr) {
      attr->guid = interface_->iid;
      attr->typekind = TKIND_DISPATCH;
      attr->cFuncs = static_cast<WORD>(interface_->members.size());
      attr->cbSizeVft =
          static_cast<WORD>((kDispatchMethods + interface_->members.size()) * sizeof(void*));
      attr->cbSizeInstance = sizeof(void*);
      attr->wTypeFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    } else {
      attr->guid = class_->clsid;
      attr->typekind = TKIND_COCLASS;
      attr->cImplTypes = class_->defaultInterface.empty() ? 0 : 1;
      attr->cbSizeInstance = sizeof(void*);
      attr->wTypeFlags = TYPEFLAG_FCANCREATE;
    }
    *attributes = attr;
    return S_OK;
  }

  HRESULT GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }

  HRESULT GetFuncDesc(UINT index, FUNCDESC** description) override {
    if (description == nullptr) return E_INVALIDARG;
    *description = nullptr;
    if (interface_ == nullptr || index >= interface_->members.size()) return TYPE_E_ELEMENTNOTFOUND;
    const MemberDesc& member = interface_->members[index];
    auto* block = new (std::nothrow) FuncDescBlock{};
    if (block == nullptr) return E_OUTOFMEMORY;
    FUNCDESC& desc = block->desc;
    desc.memid = member.id;
    desc.lprgelemdescParam = member.params.empty() ? nullptr : block->params;
    desc.funckind = FUNC_DISPATCH;
    desc.invkind = static_cast<INVOKEKIND>(member.kind);
    desc.callconv = CC_STDCALL;
    desc.cParams = static_cast<SHORT>(std::min(member.params.size(), kMaxParams));
    desc.oVft = static_cast<SHORT>((kDispatchMethods + index) * sizeof(void*));
    for (size_t k = 0; k < static_cast<size_t>(desc.cParams); ++k) {
      const ParamDesc& param = member.params[k];
      ELEMDESC& elem = block->params[k];
      DescribeType(param.type, elem.tdesc, block->pointees[k]);
      elem.paramdesc.wParamFlags = PARAMFLAG_FIN;
      if (param.optional) {
        elem.paramdesc.wParamFlags |= PARAMFLAG_FOPT;
        if (std::holds_alternative<std::monostate>(param.defaultValue)) ++desc.cParamsOpt;
      }
      if (!std::holds_alternative<std::monostate>(param.defaultValue)) {
        PARAMDESCEX& extra = block->defaults[k];
        extra.cBytes = sizeof(PARAMDESCEX);
        if (FAILED(ConstantToVariant(param.defaultValue, &extra.varDefaultValue))) {
          ReleaseFuncDesc(&block->desc);
          return E_OUTOFMEMORY;
        }
        elem.paramdesc.wParamFlags |= PARAMFLAG_FHASDEFAULT;
        elem.paramdesc.pparamdescex = &extra;
      }
    }
    if (member.result.vt == VT_EMPTY) {
      desc.elemdescFunc.tdesc.vt = VT_VOID;
    } else {
      DescribeType(member.result, desc.elemdescFunc.tdesc, block->pointees[kMaxParams]);
    }
    *description = &block->desc;
    return S_OK;
  }

  HRESULT GetVarDesc(UINT index, VARDESC** description) override {
    if (description == nullptr) return E_INVALIDARG;
    *description = nullptr;
    if (enum_ == nullptr || index >= enum_->values.size()) return TYPE_E_ELEMENTNOTFOUND;
    auto* block = new (std::nothrow) VarDescBlock{};
    if (block == nullptr) return E_OUTOFMEMORY;
    block->desc.memid = static_cast<MEMBERID>(index);
    block->desc.lpvarValue = &block->value;
    block->desc.elemdescVar.tdesc.vt = VT_I4;
    block->desc.varkind = VAR_CONST;
    block->value.vt = VT_I4;
    block->value.lVal = enum_->values[index].value;
    *description = &block->desc;
    return S_OK;
  }

  HRESULT GetNames(MEMBERID id, BSTR* names, UINT capacity, UINT* count) override {
    if (names == nullptr || count == nullptr) return E_INVALIDARG;
    *count = 0;
    std::vector<const std::string*> found;
    if (enum_ != nullptr && id >= 0 && static_cast<size_t>(id) < enum_->values.size()) {
      found.push_back(&enum_->values[id].name);
    } else if (const MemberDesc* member = FindMember(id)) {
      found.push_back(&member->name);
      const bool isPut = member->kind == MemberKind::kPut || member->kind == MemberKind::kPutRef;
      const size_t named = member->params.size() - (isPut && !member->params.empty() ? 1 : 0);
      for (size_t k = 0; k < named; ++k) found.push_back(&member->params[k].name);
    } else {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    for (const std::string* name : found) {
      if (*count >= capacity) break;
      names[*count] = AllocBstrFromUtf8(*name);
      if (names[*count] == nullptr) return E_OUTOFMEMORY;
      ++*count;
    }
    return S_OK;
  }

  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* reference) override {
    if (reference == nullptr) return E_INVALIDARG;
    if (class_ == nullptr || index != 0) return TYPE_E_ELEMENTNOTFOUND;
    const int found = library_->FindType(class_->defaultInterface);
    if (found < 0) return TYPE_E_ELEMENTNOTFOUND;
    *reference = static_cast<HREFTYPE>(found);
    return S_OK;
  }

  HRESULT GetImplTypeFlags(UINT index, INT* flags) override {
    if (flags == nullptr) return E_INVALIDARG;
    if (class_ == nullptr || index != 0 || class_->defaultInterface.empty()) {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    *flags = IMPLTYPEFLAG_FDEFAULT;
    return S_OK;
  }

  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    if (interface_ == nullptr) return DISP_E_UNKNOWNNAME;
    return DispatchGetIDsOfNames(*interface_, names, count, ids);
  }

  HRESULT Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override {
    if (interface_ == nullptr) return DISP_E_MEMBERNOTFOUND;
    if (instance == nullptr) return E_INVALIDARG;
    return DispatchInvoke(*interface_, instance, id, flags, params, result, exception,
                          argumentError);
  }

  HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* documentation, DWORD* helpContext,
                           BSTR* helpFile) override {
    const std::string* typeName = nullptr;
    const std::string* help = nullptr;
    if (id == MEMBERID_NIL) {
      typeName = enum_ ? &enum_->name : interface_ ? &interface_->name : &class_->name;
      help = enum_ ? &enum_->help : interface_ ? &interface_->help : &class_->help;
    } else if (enum_ != nullptr && id >= 0 && static_cast<size_t>(id) < enum_->values.size()) {
      typeName = &enum_->values[id].name;
      help = &enum_->values[id].help;
    } else if (const MemberDesc* member = FindMember(id)) {
      typeName = &member->name;
      help = &member->help;
    } else {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    if (helpContext != nullptr) *helpContext = 0;
    if (helpFile != nullptr) *helpFile = nullptr;
    HRESULT hr = CopyText(*typeName, name);
    if (SUCCEEDED(hr)) hr = CopyText(*help, documentation);
    return hr;
  }

  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }

  HRESULT GetRefTypeInfo(HREFTYPE reference, ITypeInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    if (reference >= library_->TypeCount()) return TYPE_E_ELEMENTNOTFOUND;
    return CreateTypeInfo(library_, reference, info);
  }

  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void**) override { return E_NOTIMPL; }
  HRESULT CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }

  HRESULT GetContainingTypeLib(ITypeLib** library, UINT* index) override {
    if (index != nullptr) *index = index_;
    if (library == nullptr) return S_OK;
    return CreateTypeLib(library_, library);
  }

  void ReleaseTypeAttr(TYPEATTR* attributes) override { delete attributes; }

  void ReleaseFuncDesc(FUNCDESC* description) override {
    if (description == nullptr) return;
    auto* block = reinterpret_cast<FuncDescBlock*>(description);
    for (PARAMDESCEX& extra : block->defaults) VariantClear(&extra.varDefaultValue);
    delete block;
  }

  void ReleaseVarDesc(VARDESC* description) override {
    delete reinterpret_cast<VarDescBlock*>(description);
  }

 private:
  const MemberDesc* FindMember(MEMBERID id) const {
    if (interface_ == nullptr) return nullptr;
    for (const MemberDesc& member : interface_->members) {
      if (member.id == id) return &member;
    }
    return nullptr;
  }

  // An enumeration is a user-defined type; an interface a pointer to one.
  void DescribeType(const TypeDesc& type, TYPEDESC& desc, TYPEDESC& pointee) const {
    const int index = type.name.empty() ? -1 : library_->FindType(type.name);
    if (index < 0) {
      desc.vt = type.vt;
    } else if (type.vt == VT_I4) {
      desc.vt = VT_USERDEFINED;
      desc.hreftype = static_cast<HREFTYPE>(index);
    } else {
      pointee.vt = VT_USERDEFINED;
      pointee.hreftype = static_cast<HREFTYPE>(index);
      desc.vt = VT_PTR;
      desc.lptdesc = &pointee;
    }
  }

  std::shared_ptr<const TypeLibraryDesc> library_;
  UINT index_ = 0;
  const EnumDesc* enum_ = nullptr;
  const InterfaceDesc* interface_ = nullptr;
  const ClassDesc* class_ = nullptr;
};

class TypeLibObject final : public ComObject<ITypeLib> {
 public:
  explicit TypeLibObject(IUnknown* outer) : ComObject(outer) {}
  void Attach(std::shared_ptr<const TypeLibraryDesc> library) { library_ = std::move(library); }

  UINT GetTypeInfoCount() override { return static_cast<UINT>(library_->TypeCount()); }

  HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    if (index >= library_->TypeCount()) return TYPE_E_ELEMENTNOTFOUND;
    return CreateTypeInfo(library_, index, info);
  }

  HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    if (kind == nullptr) return E_INVALIDARG;
    const size_t enums = library_->enums.size();
    const size_t interfaces = library_->interfaces.size();
    if (index >= library_->TypeCount()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = index < enums                ? TKIND_ENUM
            : index < enums + interfaces ? TKIND_DISPATCH
                                         : TKIND_COCLASS;
    return S_OK;
  }

  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    const size_t enums = library_->enums.size();
    for (size_t i = 0; i < library_->interfaces.size(); ++i) {
      if (library_->interfaces[i].iid == guid) {
        return CreateTypeInfo(library_, static_cast<UINT>(enums + i), info);
      }
    }
    for (size_t i = 0; i < library_->classes.size(); ++i) {
      if (library_->classes[i].clsid == guid) {
        const size_t index = enums + library_->interfaces.size() + i;
        return CreateTypeInfo(library_, static_cast<UINT>(index), info);
      }
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }

  HRESULT GetLibAttr(TLIBATTR** attributes) override {
    if (attributes == nullptr) return E_INVALIDARG;
    auto* attr = new (std::nothrow) TLIBATTR{};
    if (attr == nullptr) return E_OUTOFMEMORY;
    attr->guid = library_->libid;
    attr->lcid = library_->lcid;
    attr->syskind = SYS_WIN64;
    attr->wMajorVerNum = library_->majorVersion;
    attr->wMinorVerNum = library_->minorVersion;
    *attributes = attr;
    return S_OK;
  }

  HRESULT GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }

  HRESULT GetDocumentation(INT index, BSTR* name, BSTR* documentation, DWORD* helpContext,
                           BSTR* helpFile) override {
    if (helpContext != nullptr) *helpContext = 0;
    if (helpFile != nullptr) *helpFile = nullptr;
    if (index == -1) {
      HRESULT hr = CopyText(library_->name, name);
      if (SUCCEEDED(hr)) hr = CopyText(library_->help, documentation);
      return hr;
    }
    ITypeInfo* info = nullptr;
    HRESULT hr = GetTypeInfo(static_cast<UINT>(index), &info);
    if (FAILED(hr)) return hr;
    hr = info->GetDocumentation(MEMBERID_NIL, name, documentation, nullptr, nullptr);
    info->Release();
    return hr;
  }

  HRESULT IsName(LPOLESTR name, ULONG, BOOL* found) override {
    if (name == nullptr || found == nullptr) return E_INVALIDARG;
    *found = FindByName(name, nullptr, nullptr, 1) > 0;
    return S_OK;
  }

  HRESULT FindName(LPOLESTR name, ULONG, ITypeInfo** infos, MEMBERID* ids, USHORT* count) override {
    if (name == nullptr || infos == nullptr || ids == nullptr || count == nullptr) {
      return E_INVALIDARG;
    }
    *count = static_cast<USHORT>(FindByName(name, infos, ids, *count));
    return S_OK;
  }

  void ReleaseTLibAttr(TLIBATTR* attributes) override { delete attributes; }

 private:
  // Types and members named `name`, at most `capacity`; fills the arrays when given.
  size_t FindByName(std::u16string_view name, ITypeInfo** infos, MEMBERID* ids, size_t capacity) {
    size_t found = 0;
    auto add = [&](size_t index, MEMBERID id) {
      if (found >= capacity) return;
      if (infos != nullptr &&
          FAILED(CreateTypeInfo(library_, static_cast<UINT>(index), &infos[found]))) {
        return;
      }
      if (ids != nullptr) ids[found] = id;
      ++found;
    };
    const size_t enums = library_->enums.size();
    for (size_t i = 0; i < library_->TypeCount(); ++i) {
      const std::string& typeName =
          i < enums ? library_->enums[i].name
          : i < enums + library_->interfaces.size()
              ? library_->interfaces[i - enums].name
              : library_->classes[i - enums - library_->interfaces.size()].name;
      if (NamesEqual(name, typeName)) add(i, MEMBERID_NIL);
    }
    for (size_t i = 0; i < library_->interfaces.size(); ++i) {
      for (const MemberDesc& member : library_->interfaces[i].members) {
        if (NamesEqual(name, member.name)) {
          add(enums + i, member.id);
          break;
        }
      }
    }
    return found;
  }

  std::shared_ptr<const TypeLibraryDesc> library_;
};

}  // namespace

HRESULT CreateTypeLib(std::shared_ptr<const TypeLibraryDesc> library, ITypeLib** typeLib) {
  if (typeLib == nullptr || library == nullptr) return E_INVALIDARG;
  ComPtr<ITypeLib> created;
  const HRESULT hr = CreateComObject<TypeLibObject>(nullptr, IID_ITypeLib, created.ReceiveVoid());
  if (FAILED(hr)) return hr;
  static_cast<TypeLibObject*>(created.Get())->Attach(std::move(library));
  *typeLib = created.Detach();
  return S_OK;
}

HRESULT CreateTypeInfo(std::shared_ptr<const TypeLibraryDesc> library, UINT index,
                       ITypeInfo** info) {
  if (info == nullptr || library == nullptr || index >= library->TypeCount()) return E_INVALIDARG;
  ComPtr<ITypeInfo> created;
  const HRESULT hr = CreateComObject<TypeInfoObject>(nullptr, IID_ITypeInfo, created.ReceiveVoid());
  if (FAILED(hr)) return hr;
  static_cast<TypeInfoObject*>(created.Get())->Attach(std::move(library), index);
  *info = created.Detach();
  return S_OK;
}

}  // namespace automation
