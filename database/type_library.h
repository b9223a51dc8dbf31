// The database module's type library: its enumerations, interfaces and classes, and
// the bound form of each interface its objects dispatch through.
#pragma once

#include <memory>

#include "platform/automation/dispatch.h"

namespace database {

std::shared_ptr<const automation::TypeLibraryDesc> DatabaseLibrary();

const automation::BoundInterface& DatabaseInterface();
const automation::BoundInterface& FieldInterface();  // the field of Vellum.Database
const automation::BoundInterface& ConnectionInterface();
const automation::BoundInterface& RecordsetInterface();
const automation::BoundInterface& FieldsInterface();
const automation::BoundInterface& RecordsetFieldInterface();

}  // namespace database
