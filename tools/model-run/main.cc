// model-run MODEL IN0.f32 [IN1.f32 ...] OUTDIR
//
// Runs MODEL once on raw little-endian float32 inputs (one file per signature
// input, exactly the input's element count) and writes each output k to
// OUTDIR/out<k>.f32 in the same format, so any output can be compared with
// another runtime's. Exit status 0 on success, 1 on any failure, 2 on usage.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/litert.h"

namespace {

struct Handles {
  LiteRtEnvironment env = nullptr;
  LiteRtModel model = nullptr;
  LiteRtCompiledModel compiled = nullptr;
  std::vector<LiteRtTensorBuffer> buffers;
  ~Handles() {
    for (auto b : buffers) LiteRtDestroyTensorBuffer(b);
    LiteRtDestroyCompiledModel(compiled);
    LiteRtDestroyModel(model);
    LiteRtDestroyEnvironment(env);
  }
};

int fail(const std::string& message) {
  std::fprintf(stderr, "model-run: %s\n", message.c_str());
  return 1;
}

// The tensor's type with dynamic dimensions fixed to 1, and its element count.
LiteRtRankedTensorType fixed_type(LiteRtTensor tensor, size_t& count) {
  LiteRtRankedTensorType type{};
  LiteRtGetRankedTensorType(tensor, &type);
  count = 1;
  for (uint32_t i = 0; i < type.layout.rank; ++i) {
    type.layout.dimensions[i] = std::max(type.layout.dimensions[i], 1);
    count *= static_cast<size_t>(type.layout.dimensions[i]);
  }
  return type;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: model-run MODEL IN0.f32 [IN1.f32 ...] OUTDIR\n");
    return 2;
  }
  const std::string path = argv[1], outdir = argv[argc - 1];
  const std::vector<std::string> input_files(argv + 2, argv + argc - 1);
  Handles h;
  if (LiteRtCreateEnvironment(0, nullptr, &h.env) != kLiteRtStatusOk) return fail("no environment");
  if (LiteRtCreateModelFromFile(h.env, path.c_str(), &h.model) != kLiteRtStatusOk)
    return fail("cannot load " + path + ": " + LiteRtGetEnvironmentLastError(h.env));
  if (LiteRtCreateCompiledModel(h.env, h.model, nullptr, &h.compiled) != kLiteRtStatusOk)
    return fail("cannot compile " + path + ": " + LiteRtGetEnvironmentLastError(h.env));
  LiteRtSignature sig = nullptr;
  LiteRtParamIndex ni = 0, no = 0;
  LiteRtGetModelSignature(h.model, 0, &sig);
  LiteRtGetNumSignatureInputs(sig, &ni);
  LiteRtGetNumSignatureOutputs(sig, &no);
  if (input_files.size() != ni)
    return fail("the model has " + std::to_string(ni) + " inputs, " + std::to_string(input_files.size()) + " given");

  std::vector<std::vector<float>> arrays(ni + no);
  for (LiteRtParamIndex k = 0; k < ni + no; ++k) {
    LiteRtTensor tensor = nullptr;
    if (k < ni) LiteRtGetSignatureInputTensorByIndex(sig, k, &tensor);
    else LiteRtGetSignatureOutputTensorByIndex(sig, k - ni, &tensor);
    size_t count = 0;
    LiteRtRankedTensorType type = fixed_type(tensor, count);
    if (type.element_type != kLiteRtElementTypeFloat32) return fail("tensor " + std::to_string(k) + " is not float32");
    if (k < ni) {
      bool dynamic = false;
      LiteRtRankedTensorType declared{};
      LiteRtGetRankedTensorType(tensor, &declared);
      int dims[LITERT_TENSOR_MAX_RANK];
      for (uint32_t i = 0; i < type.layout.rank; ++i) {
        dynamic = dynamic || declared.layout.dimensions[i] < 1;
        dims[i] = type.layout.dimensions[i];
      }
      if (dynamic && LiteRtCompiledModelResizeInputTensor(h.compiled, 0, k, dims, type.layout.rank) != kLiteRtStatusOk)
        return fail("cannot fix the dynamic dimensions of input " + std::to_string(k));
      std::ifstream in(input_files[k], std::ios::binary | std::ios::ate);
      if (!in) return fail("cannot read " + input_files[k]);
      if (static_cast<size_t>(in.tellg()) != count * sizeof(float))
        return fail(input_files[k] + " holds " + std::to_string(in.tellg()) + " bytes, input " + std::to_string(k) +
                    " needs " + std::to_string(count * sizeof(float)));
      arrays[k].resize(count);
      in.seekg(0);
      in.read(reinterpret_cast<char*>(arrays[k].data()), static_cast<std::streamsize>(count * sizeof(float)));
    } else {
      arrays[k].assign(count, 0.f);
    }
    LiteRtTensorBuffer b = nullptr;
    if (LiteRtCreateTensorBufferFromHostMemory(&type, arrays[k].data(), count * sizeof(float), nullptr, &b) !=
        kLiteRtStatusOk)
      return fail("cannot wrap tensor " + std::to_string(k));
    h.buffers.push_back(b);
  }
  if (LiteRtRunCompiledModel(h.compiled, 0, ni, h.buffers.data(), no, h.buffers.data() + ni) != kLiteRtStatusOk)
    return fail("run failed");
  for (LiteRtParamIndex k = 0; k < no; ++k) {
    const std::string file = outdir + "/out" + std::to_string(k) + ".f32";
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(arrays[ni + k].data()),
              static_cast<std::streamsize>(arrays[ni + k].size() * sizeof(float)));
    if (!out) return fail("cannot write " + file);
  }
  return 0;
}
