// The checks the reading entries make before anything else.
#pragma once

#include "vellum/core/data_handle.h"
#include "vellum/core/entry_frame.h"

namespace vellum {

// The source (code 5 when null, 38 when not a valid handle), then every
// out-pointer the entry fills (code 5 when one is null).
template <typename... Output>
bool CheckSourceAndOutputs(OpContext& ctx, const DataHandle* source, const Output*... outputs) {
  if (!CheckHandle(ctx, source)) return false;
  const bool outputMissing = ((outputs == nullptr) || ...);
  return !outputMissing || ctx.Fail(kErrInvalidArgument);
}

// Readers deliver 24-bit RGB only; any other requested depth is code 5.
inline bool CheckRequestedBits(OpContext& ctx, int32_t requestedBits) {
  return requestedBits == 24 || ctx.Fail(kErrInvalidArgument);
}

}  // namespace vellum
