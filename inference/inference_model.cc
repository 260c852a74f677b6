#include "inference/inference_model.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

ModelEnvironment::ModelEnvironment() {
  if (LiteRtCreateEnvironment(0, nullptr, &environment_) != kLiteRtStatusOk) environment_ = nullptr;
}

ModelEnvironment::~ModelEnvironment() {
  if (environment_) LiteRtDestroyEnvironment(environment_);
}

InferenceModel::~InferenceModel() {
  // Buffers before the arrays they wrap and the compiled model; the compiled
  // model before the model and the environment it was made from.
  for (LiteRtTensorBuffer b : input_buffers)
    if (b) LiteRtDestroyTensorBuffer(b);
  for (LiteRtTensorBuffer b : output_buffers)
    if (b) LiteRtDestroyTensorBuffer(b);
  if (compiled) LiteRtDestroyCompiledModel(compiled);
  if (model) LiteRtDestroyModel(model);
  if (environment && owns_environment) LiteRtDestroyEnvironment(environment);
  input_buffers.clear();
  output_buffers.clear();
  outputs_.clear();
  inputs_.clear();
}

bool InferenceModel::tensor_buffer(LiteRtTensor tensor, FloatArray& data, LiteRtTensorBuffer* buffer,
                                   bool* fixed) {
  LiteRtRankedTensorType type{};
  if (LiteRtGetRankedTensorType(tensor, &type) != kLiteRtStatusOk) return false;
  if (type.element_type != kLiteRtElementTypeFloat32) return false;
  // A rank beyond the layout's capacity cannot be described to the runtime.
  if (type.layout.rank > LITERT_TENSOR_MAX_RANK) return false;
  size_t count = 1;
  for (uint32_t i = 0; i < type.layout.rank; ++i) {
    if (type.layout.dimensions[i] < 1) {
      type.layout.dimensions[i] = 1;
      if (fixed) *fixed = true;
    }
    // A product that would not fit the byte size handed to the runtime is refused.
    const size_t dim = static_cast<size_t>(type.layout.dimensions[i]);
    if (count > std::numeric_limits<size_t>::max() / sizeof(float) / dim) return false;
    count *= dim;
  }
  // assign reuses the storage when its capacity suffices. A tensor too large
  // to hold is an unsupported one, not a crash.
  try {
    data.assign(count, 0.0f);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return LiteRtCreateTensorBufferFromHostMemory(&type, data.data(), count * sizeof(float), nullptr, buffer) ==
         kLiteRtStatusOk;
}

bool InferenceModel::load(const std::string& path, std::string& error, LiteRtEnvironment shared) {
  environment = shared;
  owns_environment = !shared;
  if (!shared && LiteRtCreateEnvironment(0, nullptr, &environment) != kLiteRtStatusOk) {
    error = "LiteRT environment failed.";
    return false;
  }
  const LiteRtStatus loaded = LiteRtCreateModelFromFile(environment, path.c_str(), &model);
  const std::string reason = LiteRtGetEnvironmentLastError(environment);
  if ((loaded == kLiteRtStatusErrorFileIO || loaded == kLiteRtStatusErrorMemoryAllocationFailure) &&
      reason != std::strerror(ENOENT)) {
    // Why the file could not be read (too many open files, not a regular
    // file, out of memory) is what the user needs to mend it. A missing file
    // keeps the plain message hosts have always seen.
    error = "Cannot load model " + path + ": " + reason + ".";
    return false;
  }
  if (loaded != kLiteRtStatusOk) {
    error = "Cannot load model " + path + ".";
    return false;
  }
  LiteRtOptions options = nullptr;
  if (LiteRtCreateOptions(&options) != kLiteRtStatusOk) {
    error = "LiteRT options failed.";
    return false;
  }
  LiteRtSetOptionsHardwareAccelerators(options, kLiteRtHwAcceleratorCpu);
  const LiteRtStatus compiled_status = LiteRtCreateCompiledModel(environment, model, options, &compiled);
  LiteRtDestroyOptions(options);
  if (compiled_status != kLiteRtStatusOk) {
    error = "Cannot compile model " + path + ".";
    return false;
  }
  LiteRtSignature signature = nullptr;
  LiteRtParamIndex num_inputs = 0, num_outputs = 0;
  if (LiteRtGetModelSignature(model, 0, &signature) != kLiteRtStatusOk ||
      LiteRtGetNumSignatureInputs(signature, &num_inputs) != kLiteRtStatusOk ||
      LiteRtGetNumSignatureOutputs(signature, &num_outputs) != kLiteRtStatusOk) {
    error = "Model has no usable signature: " + path + ".";
    return false;
  }
  inputs_.resize(num_inputs);
  outputs_.resize(num_outputs);
  input_buffers.assign(num_inputs, nullptr);
  output_buffers.assign(num_outputs, nullptr);
  for (LiteRtParamIndex k = 0; k < num_inputs; ++k) {
    LiteRtTensor tensor = nullptr;
    bool fixed = false;
    LiteRtRankedTensorType type{};
    if (LiteRtGetSignatureInputTensorByIndex(signature, k, &tensor) != kLiteRtStatusOk ||
        !tensor_buffer(tensor, inputs_[k], &input_buffers[k], &fixed) ||
        LiteRtGetRankedTensorType(tensor, &type) != kLiteRtStatusOk) {
      error = "Unsupported model input in " + path + ".";
      return false;
    }
    if (fixed) {
      int dims[LITERT_TENSOR_MAX_RANK];
      const uint32_t rank = std::min<uint32_t>(type.layout.rank, LITERT_TENSOR_MAX_RANK);
      for (uint32_t i = 0; i < rank; ++i) dims[i] = std::max(type.layout.dimensions[i], 1);
      if (LiteRtCompiledModelResizeInputTensor(compiled, 0, k, dims, rank) != kLiteRtStatusOk) {
        error = "Cannot fix the batch size of " + path + ".";
        return false;
      }
    }
  }
  for (LiteRtParamIndex k = 0; k < num_outputs; ++k) {
    LiteRtTensor tensor = nullptr;
    if (LiteRtGetSignatureOutputTensorByIndex(signature, k, &tensor) != kLiteRtStatusOk ||
        !tensor_buffer(tensor, outputs_[k], &output_buffers[k], nullptr)) {
      error = "Unsupported model output in " + path + ".";
      return false;
    }
  }
  return true;
}

bool InferenceModel::run() {
  return LiteRtRunCompiledModel(compiled, 0, input_buffers.size(), input_buffers.data(), output_buffers.size(),
                                output_buffers.data()) == kLiteRtStatusOk;
}
