// The runtime's loader, compiler and executor on hostile model files: load;
// when that works, compile; when that works, run once on zeros. Nothing may
// crash, hang or touch memory outside what it owns.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/litert.h"

namespace {

constexpr size_t kMaxRunFloats = size_t{1} << 20;  // larger graphs are compiled but not run

void run_on_zeros(LiteRtModel model, LiteRtCompiledModel compiled) {
  LiteRtSignature sig = nullptr;
  LiteRtParamIndex ni = 0, no = 0;
  if (LiteRtGetModelSignature(model, 0, &sig) || LiteRtGetNumSignatureInputs(sig, &ni) ||
      LiteRtGetNumSignatureOutputs(sig, &no))
    return;
  std::vector<std::vector<float>> arrays;
  std::vector<LiteRtTensorBuffer> buffers[2];
  size_t total = 0;
  bool ok = true;
  for (LiteRtParamIndex k = 0; ok && k < ni + no; ++k) {
    LiteRtTensor tensor = nullptr;
    LiteRtRankedTensorType type{};
    ok = (k < ni ? LiteRtGetSignatureInputTensorByIndex(sig, k, &tensor)
                 : LiteRtGetSignatureOutputTensorByIndex(sig, k - ni, &tensor)) == kLiteRtStatusOk &&
         LiteRtGetRankedTensorType(tensor, &type) == kLiteRtStatusOk && type.layout.rank <= LITERT_TENSOR_MAX_RANK;
    size_t count = 1;
    for (uint32_t i = 0; ok && i < type.layout.rank; ++i) {
      if (type.layout.dimensions[i] < 1) type.layout.dimensions[i] = 1;
      count *= static_cast<size_t>(type.layout.dimensions[i]);
      ok = count <= kMaxRunFloats;
    }
    ok = ok && (total += count) <= kMaxRunFloats;
    if (!ok) break;
    arrays.emplace_back(count, 0.f);
    LiteRtTensorBuffer b = nullptr;
    ok = LiteRtCreateTensorBufferFromHostMemory(&type, arrays.back().data(), count * 4, nullptr, &b) == kLiteRtStatusOk;
    if (ok) buffers[k >= ni].push_back(b);
  }
  if (ok) LiteRtRunCompiledModel(compiled, 0, ni, buffers[0].data(), no, buffers[1].data());
  for (auto& list : buffers)
    for (LiteRtTensorBuffer b : list) LiteRtDestroyTensorBuffer(b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LiteRtEnvironment env = nullptr;
  LiteRtModel model = nullptr;
  LiteRtCompiledModel compiled = nullptr;
  if (LiteRtCreateEnvironment(0, nullptr, &env) != kLiteRtStatusOk) return 0;
  if (LiteRtCreateModelFromBuffer(env, data, size, &model) == kLiteRtStatusOk) {
    if (LiteRtCreateCompiledModel(env, model, nullptr, &compiled) == kLiteRtStatusOk) run_on_zeros(model, compiled);
    LiteRtDestroyCompiledModel(compiled);
    LiteRtDestroyModel(model);
  }
  LiteRtDestroyEnvironment(env);
  return 0;
}
