// The serialised form of a type library: what a module carries as its "TYPELIB"
// resource and what a .tlb file holds. Little-endian binary:
//
//   "VTLB", u16 format version (1)
//   library:   guid, u16 major, u16 minor, u32 lcid, str name, str help
//   u32 count, enumerations: str name, str help, u32 count, values: str name, i32, str help
//   u32 count, interfaces:   str name, guid, str help, u32 count, members:
//                            i32 dispid, u8 kind, str name, str help, type result,
//                            u32 count, parameters: str name, type, u8 optional, constant
//   u32 count, classes:      str name, guid, str help, str default interface
//
//   str: u32 byte count + UTF-8;  guid: u32, u16, u16, 8 bytes;  type: u16 vt, str name
//   constant: u8 tag (0 none, 1 i32, 2 f64, 3 str) + the value
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/automation/type_description.h"

namespace automation {

std::string SerializeTypeLibrary(const TypeLibraryDesc& library);

// The library the bytes hold; null when they are malformed, truncated, or describe
// a library that CheckLibrary finds fault with.
std::unique_ptr<TypeLibraryDesc> ParseTypeLibrary(std::string_view bytes);

}  // namespace automation
