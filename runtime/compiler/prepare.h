#pragma once

#include "runtime/compiler/compile_state.h"

namespace runtime {

// Prepares operator `op` through its row of the operator table: options,
// types and shapes checked, outputs inferred, its step (or constant) added,
// and the operators after it fused where its prepare function decides so.
bool prepare_one(CompileState& state, int op);

}  // namespace runtime
