#pragma once

#include <string>
#include <vector>

#include "inference/aligned_allocator.h"
#include "runtime/litert.h"

// One model file loaded through the runtime, compiled for the CPU, with every
// input and output of its first signature bound to a float array of ours.
// A tracker writes `inputs[k]`, calls run() and reads `outputs[k]`.
class InferenceModel {
 public:
  InferenceModel() = default;
  InferenceModel(const InferenceModel&) = delete;
  InferenceModel& operator=(const InferenceModel&) = delete;
  ~InferenceModel();

  // Loads, compiles and binds the model at `path`. Call once. On failure
  // `error` holds the reason and whatever was created stays for the
  // destructor; the object is not used further.
  bool load(const std::string& path, std::string& error);

  // Runs signature 0 once on the current inputs. No allocation.
  bool run();

  // One array per signature input/output, sized to its element count. The
  // runtime's buffers point into them: never resize them after load.
  std::vector<FloatArray> inputs;
  std::vector<FloatArray> outputs;

 private:
  bool tensor_buffer(LiteRtTensor tensor, FloatArray& data, LiteRtTensorBuffer* buffer, bool* fixed);

  LiteRtEnvironment environment = nullptr;
  LiteRtModel model = nullptr;
  LiteRtCompiledModel compiled = nullptr;
  // Each wraps the memory of the array with the same index; destroyed first.
  std::vector<LiteRtTensorBuffer> input_buffers;
  std::vector<LiteRtTensorBuffer> output_buffers;
};
