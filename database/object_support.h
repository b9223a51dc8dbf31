// What every object of the database module does the same way: failures reported as
// automation errors with a text, and members that turn running out of memory into
// E_OUTOFMEMORY (early-bound callers have no dispatch engine to do it for them).
#pragma once

#include <new>
#include <string>

#include "database/module_lock.h"
#include "platform/com/interfaces.h"

namespace database {

// Messages scripts know from the data-access objects of server pages.
inline constexpr char kClosedText[] = "Operation is not allowed when the object is closed.";
inline constexpr char kOpenText[] = "Operation is not allowed when the object is open.";

// Sets the thread's error information (the class as its source, `message` as the
// description) and returns `result`.
HRESULT Fail(REFCLSID source, const std::string& message, HRESULT result = E_FAIL);

template <typename Body>
HRESULT Guarded(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace database
