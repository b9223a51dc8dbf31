// Enumerator(collection): walks what a collection's _NewEnum gives, one value per step,
// as page scripts do:
//
//   for (var e = new Enumerator(images); !e.atEnd(); e.moveNext()) print(e.item().Name);
//
// atEnd() is true once the collection's enumerator gives no more; item() is the current
// value (undefined at the end); moveNext() takes the next one; moveFirst() starts over.
#pragma once

#include "duktape.h"

namespace script {

// Defines the global Enumerator.
void DefineEnumerator(duk_context* ctx);

}  // namespace script
