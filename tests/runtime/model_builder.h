#pragma once

// Small in-memory .tflite models for tests, run through the runtime's C
// interface, and the plain-loop helpers the operator tests share.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "runtime/litert.h"
#include "runtime/schema/model_generated.h"
#include "tests/kernels/guarded.h"
#include "tests/support/conv_reference.h"

namespace testing_models {

namespace fb = runtime::fb;
using Dims = std::vector<int32_t>;
using Floats = std::vector<float>;
using Act = fb::ActivationFunctionType;
constexpr Act kNone = fb::ActivationFunctionType_NONE, kRelu6Act = fb::ActivationFunctionType_RELU6;

// Operator codes: the schema's generated enumeration, under short names.
using Op = fb::BuiltinOperator;
constexpr Op kAdd = fb::BuiltinOperator_ADD, kConcatenation = fb::BuiltinOperator_CONCATENATION,
             kConv2D = fb::BuiltinOperator_CONV_2D, kDepthwiseConv2D = fb::BuiltinOperator_DEPTHWISE_CONV_2D,
             kDequantize = fb::BuiltinOperator_DEQUANTIZE, kFullyConnected = fb::BuiltinOperator_FULLY_CONNECTED,
             kLogistic = fb::BuiltinOperator_LOGISTIC, kMaxPool2D = fb::BuiltinOperator_MAX_POOL_2D,
             kMul = fb::BuiltinOperator_MUL, kRelu = fb::BuiltinOperator_RELU, kRelu6 = fb::BuiltinOperator_RELU6,
             kReshape = fb::BuiltinOperator_RESHAPE, kResizeBilinear = fb::BuiltinOperator_RESIZE_BILINEAR,
             kTanh = fb::BuiltinOperator_TANH, kPad = fb::BuiltinOperator_PAD, kTranspose = fb::BuiltinOperator_TRANSPOSE,
             kMean = fb::BuiltinOperator_MEAN, kSub = fb::BuiltinOperator_SUB, kDiv = fb::BuiltinOperator_DIV,
             kStridedSlice = fb::BuiltinOperator_STRIDED_SLICE, kPrelu = fb::BuiltinOperator_PRELU,
             kNeg = fb::BuiltinOperator_NEG, kSum = fb::BuiltinOperator_SUM, kSqrt = fb::BuiltinOperator_SQRT,
             kRsqrt = fb::BuiltinOperator_RSQRT, kSquaredDifference = fb::BuiltinOperator_SQUARED_DIFFERENCE;

using Options =
    std::function<std::pair<fb::BuiltinOptions, flatbuffers::Offset<void>>(flatbuffers::FlatBufferBuilder&)>;
// The options of union member `Member`, made by fb::Create<Table>(b, args...);
// the arguments may use the builder `b`.
#define TABLE_OPTIONS(Member, Table, ...)                                          \
  ::testing_models::Options([=](flatbuffers::FlatBufferBuilder& b) {               \
    return std::make_pair(::runtime::fb::BuiltinOptions_##Member,                  \
                          ::runtime::fb::Create##Table(b, __VA_ARGS__).Union());   \
  })
#define OPTIONS(Name, ...) TABLE_OPTIONS(Name, Name, __VA_ARGS__)
inline Options conv_options(fb::Padding p, int stride, Act act = kNone, int dilation_h = 1, int dilation_w = 1) {
  return OPTIONS(Conv2DOptions, p, stride, stride, act, dilation_w, dilation_h);
}
inline Options depthwise_options(fb::Padding p, int stride, Act act = kNone) {
  return OPTIONS(DepthwiseConv2DOptions, p, stride, stride, 1, act);
}
inline Options add_options(Act act) { return TABLE_OPTIONS(AddOptions, ArithmeticOptions, act); }

class ModelBuilder {
 public:
  // An activation tensor; `signature` (with -1 for dynamic) when given.
  int tensor(Dims shape, Dims signature = {}, fb::TensorType type = fb::TensorType_FLOAT32);
  int constant(Dims shape, const Floats& v) { return add(std::move(shape), fb::TensorType_FLOAT32, v); }
  int ints(Dims shape, const std::vector<int32_t>& v) { return add(std::move(shape), fb::TensorType_INT32, v); }
  int half(Dims shape, const std::vector<uint16_t>& v) { return add(std::move(shape), fb::TensorType_FLOAT16, v); }
  void mark_variable(int t) { tensors_[t].variable = true; }
  // An operator writing a new tensor of `shape`, returned; -1 in `in` omits an optional input.
  int op(Op code, std::vector<int> in, Dims shape, Options o = {}) {
    const int out = tensor(std::move(shape));
    write(code, std::move(in), out, std::move(o));
    return out;
  }
  void write(Op code, std::vector<int> in, int out, Options o = {}) {
    ops_.push_back({code, std::move(in), out, std::move(o)});
  }
  void io(std::vector<int> in, std::vector<int> out) { inputs_ = std::move(in), outputs_ = std::move(out); }
  // Adds a SignatureDef over these tensors.
  void signature(std::vector<int> in, std::vector<int> out) { sig_in_ = std::move(in), sig_out_ = std::move(out); }
  std::vector<uint8_t> finish() const;
  // Loader faults and variants: added to every operator code index and constant buffer index; the
  // operator code fields written (1: the old byte, 2: the 32-bit one).
  uint32_t code_index_shift = 0, buffer_shift = 0;
  int code_fields = 3;

 private:
  template <class T>
  int add(Dims shape, fb::TensorType type, const std::vector<T>& v) {
    const auto* p = reinterpret_cast<const uint8_t*>(v.data());
    tensors_.push_back({std::move(shape), {}, type, std::vector<uint8_t>(p, p + v.size() * sizeof(T))});
    return static_cast<int>(tensors_.size()) - 1;
  }
  struct Tensor {
    Dims shape, signature;
    fb::TensorType type;
    std::vector<uint8_t> data;
    bool variable = false;
  };
  struct Operator {
    Op code;
    std::vector<int> in;
    int out;
    Options options;
  };
  std::vector<Tensor> tensors_;
  std::vector<Operator> ops_;
  std::vector<int> inputs_, outputs_, sig_in_, sig_out_;
};

// Loads, compiles and runs a model on `inputs` (zeros when empty), with its
// signature's dynamic dimensions as 1. Graphs with more than 2^20 input and
// output floats are compiled but not run. `error` is the runtime's last error.
enum Stage { kLoadFailed, kCompileFailed, kRunFailed, kRan };
struct Result {
  Stage stage = kLoadFailed;
  std::string error;
  std::vector<Floats> outputs;
  // Where a step wrote outside the caller's buffers (each sits between guard
  // zones), or empty.
  std::string overrun;
};
Result run(const std::vector<uint8_t>& bytes, const std::vector<Floats>& inputs = {});

using conv_reference::random_floats;
size_t count(const Dims& d);
// Calls fn(index) for every index of `shape` in row-major order.
void for_each_index(const Dims& shape, const std::function<void(const std::vector<int>&)>& fn);
// Row-major offset of `index` (of an output of rank index.size()) in `shape`,
// broadcasting dimensions of 1 and missing leading dimensions.
size_t offset_of(const Dims& shape, const std::vector<int>& index);
// Within tol * (1 + |expected|), NaN exactly where expected is NaN.
void expect_close(const Floats& actual, const Floats& expected, float tol = 1e-5f);
// The first output of a model that must compile and run.
inline Floats run_model(const ModelBuilder& b, const std::vector<Floats>& inputs) {
  Result r = run(b.finish(), inputs);
  EXPECT_EQ(r.stage, kRan) << r.error;
  EXPECT_EQ(r.overrun, "");
  return r.outputs.empty() ? Floats{} : r.outputs[0];
}
inline bool compile_fails(const ModelBuilder& b) { return run(b.finish()).stage == kCompileFailed; }

}  // namespace testing_models
