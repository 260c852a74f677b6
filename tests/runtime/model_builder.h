#pragma once

// Builds small in-memory .tflite models for tests, and runs them through the
// runtime's C interface.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/litert.h"
#include "runtime/schema/model_generated.h"

namespace testing_models {

namespace fb = runtime::fb;
using Dims = std::vector<int32_t>;

// Builtin operator codes used by the tests.
enum Op : int32_t {
  kAdd = 0, kConcatenation = 2, kConv2D = 3, kDepthwiseConv2D = 4, kDequantize = 6, kFullyConnected = 9,
  kLogistic = 14, kMaxPool2D = 17, kMul = 18, kRelu = 19, kRelu6 = 21, kReshape = 22, kResizeBilinear = 23,
  kPad = 34, kTranspose = 39, kMean = 40, kSub = 41, kDiv = 42, kStridedSlice = 45, kPrelu = 54, kNeg = 59,
  kSum = 74, kSqrt = 75, kRsqrt = 76, kSquaredDifference = 99, kUnsupportedTanh = 28
};

using Options = std::function<std::pair<fb::BuiltinOptions, flatbuffers::Offset<void>>(flatbuffers::FlatBufferBuilder&)>;

class ModelBuilder {
 public:
  // A float32 activation tensor; `signature` (with -1 for dynamic) when given.
  int tensor(Dims shape, Dims signature = {}, fb::TensorType type = fb::TensorType_FLOAT32);
  int constant(Dims shape, std::vector<float> values);
  int constant_ints(Dims shape, std::vector<int32_t> values);
  int constant_half(Dims shape, std::vector<uint16_t> bits);
  // Marks a tensor as a variable (state kept between runs).
  void mark_variable(int t) { tensors_[t].variable = true; }
  // An operator; `inputs` may hold -1 for an omitted optional input.
  void op(int32_t code, std::vector<int> inputs, std::vector<int> outputs, Options options = {});
  void inputs(std::vector<int> t) { inputs_ = std::move(t); }
  void outputs(std::vector<int> t) { outputs_ = std::move(t); }
  // Adds a SignatureDef naming these tensors.
  void signature(std::vector<int> in, std::vector<int> out) {
    sig_in_ = std::move(in);
    sig_out_ = std::move(out);
    has_signature_ = true;
  }
  std::vector<uint8_t> finish() const;

 private:
  struct Tensor {
    Dims shape, signature;
    fb::TensorType type;
    std::vector<uint8_t> data;
    bool variable = false;
  };
  struct Operator {
    int32_t code;
    std::vector<int> inputs, outputs;
    Options options;
  };
  std::vector<Tensor> tensors_;
  std::vector<Operator> ops_;
  std::vector<int> inputs_, outputs_, sig_in_, sig_out_;
  bool has_signature_ = false;
};

// Option tables, with the defaults of the file format.
Options conv_options(fb::Padding padding, int stride_h, int stride_w,
                     fb::ActivationFunctionType act = fb::ActivationFunctionType_NONE, int dilation_h = 1,
                     int dilation_w = 1);
Options depthwise_options(fb::Padding padding, int stride_h, int stride_w,
                          fb::ActivationFunctionType act = fb::ActivationFunctionType_NONE);
Options pool_options(fb::Padding padding, int stride_h, int stride_w, int filter_h, int filter_w);
Options add_options(fb::ActivationFunctionType act);
Options concat_options(int axis);
Options reducer_options(bool keep_dims);
Options strided_slice_options(int begin_mask, int end_mask, int shrink_mask, int ellipsis_mask = 0);
Options resize_options(bool align_corners, bool half_pixel);
Options fully_connected_options(bool keep_num_dims);

// A compiled model with host buffers over the caller-visible arrays.
class Runner {
 public:
  explicit Runner(const std::vector<uint8_t>& bytes);
  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  bool loaded() const { return model_ != nullptr; }
  bool compiled() const { return compiled_ != nullptr; }
  const std::string& error() const { return error_; }
  // Runs on these inputs (one vector per signature input); false on failure.
  bool run(const std::vector<std::vector<float>>& inputs);
  // Runs on the inputs as they are (zeros unless run() set them).
  bool run_current();
  std::vector<std::vector<float>> outputs;

 private:
  LiteRtEnvironment env_ = nullptr;
  LiteRtModel model_ = nullptr;
  LiteRtCompiledModel compiled_ = nullptr;
  std::vector<std::vector<float>> input_arrays_;
  std::vector<LiteRtTensorBuffer> in_buffers_, out_buffers_;
  std::string error_;
};

// Deterministic uniform values in [lo, hi).
std::vector<float> random_floats(size_t n, uint32_t seed, float lo = -1.f, float hi = 1.f);

}  // namespace testing_models
