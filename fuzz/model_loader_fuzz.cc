// The runtime's loader, compiler and executor on hostile model files: load;
// when that works, compile; when that works, run once on zeros. Nothing may
// crash, hang or touch memory outside what it owns.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/litert.h"

namespace {

// Larger graphs are loaded and compiled but not run, to keep each input fast.
constexpr size_t kMaxRunFloats = size_t{1} << 20;

void run_on_zeros(LiteRtModel model, LiteRtCompiledModel compiled) {
  LiteRtSignature sig = nullptr;
  LiteRtParamIndex ni = 0, no = 0;
  if (LiteRtGetModelSignature(model, 0, &sig) != kLiteRtStatusOk ||
      LiteRtGetNumSignatureInputs(sig, &ni) != kLiteRtStatusOk ||
      LiteRtGetNumSignatureOutputs(sig, &no) != kLiteRtStatusOk)
    return;
  std::vector<std::vector<float>> arrays;
  std::vector<LiteRtTensorBuffer> in, out;
  size_t total = 0;
  bool ok = true;
  for (LiteRtParamIndex k = 0; ok && k < ni + no; ++k) {
    LiteRtTensor tensor = nullptr;
    const LiteRtStatus found = k < ni ? LiteRtGetSignatureInputTensorByIndex(sig, k, &tensor)
                                      : LiteRtGetSignatureOutputTensorByIndex(sig, k - ni, &tensor);
    LiteRtRankedTensorType type{};
    ok = found == kLiteRtStatusOk && LiteRtGetRankedTensorType(tensor, &type) == kLiteRtStatusOk &&
         type.element_type == kLiteRtElementTypeFloat32 && type.layout.rank <= LITERT_TENSOR_MAX_RANK;
    size_t count = 1;
    for (uint32_t i = 0; ok && i < type.layout.rank; ++i) {
      if (type.layout.dimensions[i] < 1) type.layout.dimensions[i] = 1;
      count *= static_cast<size_t>(type.layout.dimensions[i]);
      ok = count <= kMaxRunFloats;
    }
    total += count;
    ok = ok && total <= kMaxRunFloats;
    if (!ok) break;
    arrays.emplace_back(count, 0.f);
    LiteRtTensorBuffer b = nullptr;
    ok = LiteRtCreateTensorBufferFromHostMemory(&type, arrays.back().data(), count * sizeof(float), nullptr, &b) ==
         kLiteRtStatusOk;
    if (ok) (k < ni ? in : out).push_back(b);
  }
  if (ok) LiteRtRunCompiledModel(compiled, 0, in.size(), in.data(), out.size(), out.data());
  for (LiteRtTensorBuffer b : in) LiteRtDestroyTensorBuffer(b);
  for (LiteRtTensorBuffer b : out) LiteRtDestroyTensorBuffer(b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LiteRtEnvironment env = nullptr;
  if (LiteRtCreateEnvironment(0, nullptr, &env) != kLiteRtStatusOk) return 0;
  LiteRtModel model = nullptr;
  if (LiteRtCreateModelFromBuffer(env, data, size, &model) == kLiteRtStatusOk) {
    LiteRtCompiledModel compiled = nullptr;
    if (LiteRtCreateCompiledModel(env, model, nullptr, &compiled) == kLiteRtStatusOk) {
      run_on_zeros(model, compiled);
      LiteRtDestroyCompiledModel(compiled);
    }
    LiteRtDestroyModel(model);
  }
  LiteRtDestroyEnvironment(env);
  return 0;
}
