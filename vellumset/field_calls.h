// Database fields as the collection server uses them: late-bound, every member looked
// up by name first. A name the object does not know is how an argument that is not a
// field is recognised.
#pragma once

#include "platform/com/interfaces.h"

namespace vellumset {

// The DISPID of a member of the field; false when the field has no such member.
bool FindFieldMember(IDispatch* field, const char16_t* name, DISPID* id);

// Invokes a member with one argument (or none, when `argument` is null). `exception`
// (may be null) receives what a failing member reported.
HRESULT InvokeFieldMember(IDispatch* field, DISPID id, WORD flags, VARIANT* argument,
                          VARIANT* result, EXCEPINFO* exception);

}  // namespace vellumset
