#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "inference/aligned_allocator.h"
#include "runtime/litert.h"

// An environment of the runtime for models that run one after another on one
// thread: they share one arena for their activations, as large as the
// largest of them needs, so the trackers' models take less memory and each
// writes over memory its predecessor has just left in the caches. Outlives
// every model loaded into it.
class ModelEnvironment {
 public:
  ModelEnvironment();
  ModelEnvironment(const ModelEnvironment&) = delete;
  ModelEnvironment& operator=(const ModelEnvironment&) = delete;
  ~ModelEnvironment();
  // Null when the runtime could not create it; models then make their own.
  LiteRtEnvironment handle() const { return environment_; }

 private:
  LiteRtEnvironment environment_ = nullptr;
};

// One model file loaded through the runtime, compiled for the CPU, with every
// input and output of its first signature bound to a float array of ours.
// A tracker writes `input(k)`, calls run() and reads `output(k)`.
class InferenceModel {
 public:
  InferenceModel() = default;
  InferenceModel(const InferenceModel&) = delete;
  InferenceModel& operator=(const InferenceModel&) = delete;
  ~InferenceModel();

  // Loads, compiles and binds the model at `path` in `shared` (see
  // ModelEnvironment), or in an environment of its own when that is null.
  // Call once. On failure `error` holds the reason and whatever was created
  // stays for the destructor; the object is not used further.
  bool load(const std::string& path, std::string& error, LiteRtEnvironment shared = nullptr);

  // Runs signature 0 once on the current inputs. No allocation.
  bool run();

  // One array per signature input and output, sized at load to its element
  // count and 64-byte aligned. Handed out as views of that fixed size: the
  // runtime's buffers point into the arrays, which must never move.
  std::size_t input_count() const { return inputs_.size(); }
  std::size_t output_count() const { return outputs_.size(); }
  std::span<float> input(std::size_t k) { return inputs_[k]; }
  std::span<const float> input(std::size_t k) const { return inputs_[k]; }
  std::span<const float> output(std::size_t k) const { return outputs_[k]; }

 private:
  bool tensor_buffer(LiteRtTensor tensor, FloatArray& data, LiteRtTensorBuffer* buffer, bool* fixed);

  LiteRtEnvironment environment = nullptr;
  bool owns_environment = false;
  LiteRtModel model = nullptr;
  LiteRtCompiledModel compiled = nullptr;
  std::vector<FloatArray> inputs_;
  std::vector<FloatArray> outputs_;
  // Each wraps the memory of the array with the same index; destroyed first.
  std::vector<LiteRtTensorBuffer> input_buffers;
  std::vector<LiteRtTensorBuffer> output_buffers;
};
