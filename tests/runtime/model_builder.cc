#include "tests/runtime/model_builder.h"

#include <cstring>
#include <random>

namespace testing_models {

int ModelBuilder::tensor(Dims shape, Dims signature, fb::TensorType type) {
  tensors_.push_back({std::move(shape), std::move(signature), type, {}, false});
  return static_cast<int>(tensors_.size()) - 1;
}

int ModelBuilder::constant(Dims shape, std::vector<float> values) {
  std::vector<uint8_t> bytes(values.size() * 4);
  std::memcpy(bytes.data(), values.data(), bytes.size());
  tensors_.push_back({std::move(shape), {}, fb::TensorType_FLOAT32, std::move(bytes), false});
  return static_cast<int>(tensors_.size()) - 1;
}

int ModelBuilder::constant_ints(Dims shape, std::vector<int32_t> values) {
  std::vector<uint8_t> bytes(values.size() * 4);
  std::memcpy(bytes.data(), values.data(), bytes.size());
  tensors_.push_back({std::move(shape), {}, fb::TensorType_INT32, std::move(bytes), false});
  return static_cast<int>(tensors_.size()) - 1;
}

int ModelBuilder::constant_half(Dims shape, std::vector<uint16_t> bits) {
  std::vector<uint8_t> bytes(bits.size() * 2);
  std::memcpy(bytes.data(), bits.data(), bytes.size());
  tensors_.push_back({std::move(shape), {}, fb::TensorType_FLOAT16, std::move(bytes), false});
  return static_cast<int>(tensors_.size()) - 1;
}

void ModelBuilder::op(int32_t code, std::vector<int> inputs, std::vector<int> outputs, Options options) {
  ops_.push_back({code, std::move(inputs), std::move(outputs), std::move(options)});
}

std::vector<uint8_t> ModelBuilder::finish() const {
  flatbuffers::FlatBufferBuilder b;
  // Buffer 0 is the customary empty one.
  std::vector<flatbuffers::Offset<fb::Buffer>> buffers = {fb::CreateBuffer(b)};
  std::vector<flatbuffers::Offset<fb::Tensor>> tensors;
  for (const Tensor& t : tensors_) {
    uint32_t buffer = 0;
    if (!t.data.empty()) {
      b.ForceVectorAlignment(t.data.size(), 1, 16);
      buffers.push_back(fb::CreateBuffer(b, b.CreateVector(t.data)));
      buffer = static_cast<uint32_t>(buffers.size() - 1);
    }
    auto shape = b.CreateVector(t.shape);
    flatbuffers::Offset<flatbuffers::Vector<int32_t>> signature;
    if (!t.signature.empty()) signature = b.CreateVector(t.signature);
    fb::TensorBuilder tb(b);
    tb.add_shape(shape);
    tb.add_type(t.type);
    tb.add_buffer(buffer);
    if (!t.signature.empty()) tb.add_shape_signature(signature);
    if (t.variable) tb.add_is_variable(true);
    tensors.push_back(tb.Finish());
  }
  std::vector<int32_t> codes;
  std::vector<flatbuffers::Offset<fb::Operator>> ops;
  for (const Operator& op : ops_) {
    uint32_t index = 0;
    while (index < codes.size() && codes[index] != op.code) ++index;
    if (index == codes.size()) codes.push_back(op.code);
    std::pair<fb::BuiltinOptions, flatbuffers::Offset<void>> options{fb::BuiltinOptions_NONE, 0};
    if (op.options) options = op.options(b);
    ops.push_back(fb::CreateOperator(b, index, b.CreateVector(op.inputs), b.CreateVector(op.outputs),
                                     options.first, options.second));
  }
  std::vector<flatbuffers::Offset<fb::OperatorCode>> code_tables;
  for (int32_t c : codes)
    code_tables.push_back(fb::CreateOperatorCode(b, static_cast<int8_t>(c < 127 ? c : 127), 0, 1, c));
  auto graph = fb::CreateSubGraph(b, b.CreateVector(tensors), b.CreateVector(inputs_), b.CreateVector(outputs_),
                                  b.CreateVector(ops));
  flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<fb::SignatureDef>>> signatures;
  if (has_signature_) {
    std::vector<flatbuffers::Offset<fb::TensorMap>> in, out;
    for (int t : sig_in_) in.push_back(fb::CreateTensorMap(b, b.CreateString("in"), static_cast<uint32_t>(t)));
    for (int t : sig_out_) out.push_back(fb::CreateTensorMap(b, b.CreateString("out"), static_cast<uint32_t>(t)));
    signatures = b.CreateVector(std::vector<flatbuffers::Offset<fb::SignatureDef>>{
        fb::CreateSignatureDef(b, b.CreateVector(in), b.CreateVector(out), b.CreateString("serving_default"), 0)});
  }
  auto model = fb::CreateModel(b, 3, b.CreateVector(code_tables), b.CreateVector(std::vector{graph}), 0,
                               b.CreateVector(buffers), 0, 0, signatures);
  b.Finish(model, fb::ModelIdentifier());
  return std::vector<uint8_t>(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

Options conv_options(fb::Padding padding, int stride_h, int stride_w, fb::ActivationFunctionType act,
                     int dilation_h, int dilation_w) {
  return [=](flatbuffers::FlatBufferBuilder& b) {
    return std::make_pair(fb::BuiltinOptions_Conv2DOptions,
                          fb::CreateConv2DOptions(b, padding, stride_w, stride_h, act, dilation_w, dilation_h).Union());
  };
}

Options depthwise_options(fb::Padding padding, int stride_h, int stride_w, fb::ActivationFunctionType act) {
  return [=](flatbuffers::FlatBufferBuilder& b) {
    return std::make_pair(fb::BuiltinOptions_DepthwiseConv2DOptions,
                          fb::CreateDepthwiseConv2DOptions(b, padding, stride_w, stride_h, 1, act).Union());
  };
}

Options pool_options(fb::Padding padding, int stride_h, int stride_w, int filter_h, int filter_w) {
  return [=](flatbuffers::FlatBufferBuilder& b) {
    return std::make_pair(fb::BuiltinOptions_Pool2DOptions,
                          fb::CreatePool2DOptions(b, padding, stride_w, stride_h, filter_w, filter_h).Union());
  };
}

Options add_options(fb::ActivationFunctionType act) {
  return [=](flatbuffers::FlatBufferBuilder& b) {
    return std::make_pair(fb::BuiltinOptions_AddOptions, fb::CreateArithmeticOptions(b, act).Union());
  };
}

Options concat_options(int axis) {
  return [=](flatbuffers::FlatBufferBuilder& b) {
    return std::make_pair(fb::BuiltinOptions_ConcatenationOptions, fb::CreateConcatenationOptions(b, axis).Union());
  };
}

Options reducer_options(bool keep_dims) {
  return [=](flatbuffers::FlatBufferBuilder& b) {
    return std::make_pair(fb::BuiltinOptions_ReducerOptions, fb::CreateReducerOptions(b, keep_dims).Union());
  };
}

Options strided_slice_options(int begin_mask, int end_mask, int shrink_mask, int ellipsis_mask) {
  return [=](flatbuffers::FlatBufferBuilder& b) {
    return std::make_pair(
        fb::BuiltinOptions_StridedSliceOptions,
        fb::CreateStridedSliceOptions(b, begin_mask, end_mask, ellipsis_mask, 0, shrink_mask).Union());
  };
}

Options resize_options(bool align_corners, bool half_pixel) {
  return [=](flatbuffers::FlatBufferBuilder& b) {
    return std::make_pair(fb::BuiltinOptions_ResizeBilinearOptions,
                          fb::CreateResizeBilinearOptions(b, align_corners, half_pixel).Union());
  };
}

Options fully_connected_options(bool keep_num_dims) {
  return [=](flatbuffers::FlatBufferBuilder& b) {
    return std::make_pair(
        fb::BuiltinOptions_FullyConnectedOptions,
        fb::CreateFullyConnectedOptions(b, fb::ActivationFunctionType_NONE, 0, keep_num_dims).Union());
  };
}

Runner::Runner(const std::vector<uint8_t>& bytes) {
  if (LiteRtCreateEnvironment(0, nullptr, &env_) != kLiteRtStatusOk) return;
  if (LiteRtCreateModelFromBuffer(env_, bytes.data(), bytes.size(), &model_) != kLiteRtStatusOk) {
    error_ = LiteRtGetEnvironmentLastError(env_);
    model_ = nullptr;
    return;
  }
  if (LiteRtCreateCompiledModel(env_, model_, nullptr, &compiled_) != kLiteRtStatusOk) {
    error_ = LiteRtGetEnvironmentLastError(env_);
    compiled_ = nullptr;
    return;
  }
  LiteRtSignature sig = nullptr;
  LiteRtParamIndex ni = 0, no = 0;
  LiteRtGetModelSignature(model_, 0, &sig);
  LiteRtGetNumSignatureInputs(sig, &ni);
  LiteRtGetNumSignatureOutputs(sig, &no);
  auto bind = [&](LiteRtTensor t, std::vector<float>& array, std::vector<LiteRtTensorBuffer>& into) {
    LiteRtRankedTensorType type{};
    LiteRtGetRankedTensorType(t, &type);
    size_t count = 1;
    for (uint32_t i = 0; i < type.layout.rank; ++i) {
      if (type.layout.dimensions[i] < 1) type.layout.dimensions[i] = 1;
      count *= static_cast<size_t>(type.layout.dimensions[i]);
    }
    array.assign(count, 0.f);
    LiteRtTensorBuffer buffer = nullptr;
    LiteRtCreateTensorBufferFromHostMemory(&type, array.data(), count * 4, nullptr, &buffer);
    into.push_back(buffer);
  };
  input_arrays_.resize(ni);
  outputs.resize(no);
  for (LiteRtParamIndex k = 0; k < ni; ++k) {
    LiteRtTensor t = nullptr;
    LiteRtGetSignatureInputTensorByIndex(sig, k, &t);
    bind(t, input_arrays_[k], in_buffers_);
  }
  for (LiteRtParamIndex k = 0; k < no; ++k) {
    LiteRtTensor t = nullptr;
    LiteRtGetSignatureOutputTensorByIndex(sig, k, &t);
    bind(t, outputs[k], out_buffers_);
  }
}

Runner::~Runner() {
  for (auto b : in_buffers_) LiteRtDestroyTensorBuffer(b);
  for (auto b : out_buffers_) LiteRtDestroyTensorBuffer(b);
  LiteRtDestroyCompiledModel(compiled_);
  LiteRtDestroyModel(model_);
  LiteRtDestroyEnvironment(env_);
}

bool Runner::run(const std::vector<std::vector<float>>& inputs) {
  if (!compiled_ || inputs.size() != input_arrays_.size()) return false;
  for (size_t k = 0; k < inputs.size(); ++k) {
    if (inputs[k].size() != input_arrays_[k].size()) return false;
    std::copy(inputs[k].begin(), inputs[k].end(), input_arrays_[k].begin());
  }
  return run_current();
}

bool Runner::run_current() {
  if (!compiled_) return false;
  return LiteRtRunCompiledModel(compiled_, 0, in_buffers_.size(), in_buffers_.data(), out_buffers_.size(),
                                out_buffers_.data()) == kLiteRtStatusOk;
}

std::vector<float> random_floats(size_t n, uint32_t seed, float lo, float hi) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(lo, hi);
  std::vector<float> v(n);
  for (float& x : v) x = dist(rng);
  return v;
}

}  // namespace testing_models
