#include "tests/runtime/model_builder.h"

#include <algorithm>

namespace testing_models {

int ModelBuilder::tensor(Dims shape, Dims signature, fb::TensorType type) {
  tensors_.push_back({std::move(shape), std::move(signature), type, {}});
  return static_cast<int>(tensors_.size()) - 1;
}

std::vector<uint8_t> ModelBuilder::finish() const {
  flatbuffers::FlatBufferBuilder b;
  std::vector<flatbuffers::Offset<fb::Buffer>> buffers = {fb::CreateBuffer(b)};
  std::vector<flatbuffers::Offset<fb::Tensor>> tensors;
  for (const Tensor& t : tensors_) {
    if (!t.data.empty()) {
      b.ForceVectorAlignment(t.data.size(), 1, 16);
      buffers.push_back(fb::CreateBuffer(b, b.CreateVector(t.data)));
    }
    const auto buffer = static_cast<uint32_t>(t.data.empty() ? 0 : buffers.size() - 1 + buffer_shift);
    tensors.push_back(fb::CreateTensor(b, b.CreateVector(t.shape), t.type, buffer, 0, 0, t.variable, 0,
                                       t.signature.empty() ? 0 : b.CreateVector(t.signature)));
  }
  std::vector<int32_t> codes;
  std::vector<flatbuffers::Offset<fb::Operator>> ops;
  for (const Operator& op : ops_) {
    const auto index = static_cast<uint32_t>(std::find(codes.begin(), codes.end(), op.code) - codes.begin());
    if (index == codes.size()) codes.push_back(op.code);
    auto o = op.options ? op.options(b) : std::make_pair(fb::BuiltinOptions_NONE, flatbuffers::Offset<void>());
    ops.push_back(fb::CreateOperator(b, index + code_index_shift, b.CreateVector(op.in),
                                     b.CreateVector(std::vector{op.out}), o.first, o.second));
  }
  std::vector<flatbuffers::Offset<fb::OperatorCode>> code_tables;
  for (int32_t c : codes)
    code_tables.push_back(fb::CreateOperatorCode(b, code_fields & 1 ? static_cast<int8_t>(std::min(c, 127)) : 0, 0, 1,
                                                 code_fields & 2 ? c : 0));
  auto graph = fb::CreateSubGraph(b, b.CreateVector(tensors), b.CreateVector(inputs_), b.CreateVector(outputs_),
                                  b.CreateVector(ops));
  flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<fb::SignatureDef>>> signatures;
  if (!sig_in_.empty() || !sig_out_.empty()) {
    auto maps = [&](const std::vector<int>& ts, const char* name) {
      std::vector<flatbuffers::Offset<fb::TensorMap>> v;
      for (int t : ts) v.push_back(fb::CreateTensorMap(b, b.CreateString(name), static_cast<uint32_t>(t)));
      return b.CreateVector(v);
    };
    auto in = maps(sig_in_, "in"), out = maps(sig_out_, "out");
    signatures = b.CreateVector(std::vector{fb::CreateSignatureDef(b, in, out, b.CreateString("serving_default"), 0)});
  }
  b.Finish(fb::CreateModel(b, 3, b.CreateVector(code_tables), b.CreateVector(std::vector{graph}), 0,
                           b.CreateVector(buffers), 0, 0, signatures),
           fb::ModelIdentifier());
  return std::vector<uint8_t>(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

Result run(const std::vector<uint8_t>& bytes, const std::vector<Floats>& inputs) {
  Result r;
  LiteRtEnvironment env = nullptr;
  LiteRtModel model = nullptr;
  LiteRtCompiledModel compiled = nullptr;
  std::vector<Floats> in;
  std::vector<LiteRtTensorBuffer> buffers[2];
  std::vector<kernels_test::Guarded> guarded[2];
  LiteRtCreateEnvironment(0, nullptr, &env);
  if (LiteRtCreateModelFromBuffer(env, bytes.data(), bytes.size(), &model) != kLiteRtStatusOk) model = nullptr;
  else if (r.stage = kCompileFailed; LiteRtCreateCompiledModel(env, model, nullptr, &compiled) == kLiteRtStatusOk) {
    r.stage = kRunFailed;
    LiteRtSignature sig = nullptr;
    LiteRtParamIndex n[2] = {0, 0};
    LiteRtGetModelSignature(model, 0, &sig);
    LiteRtGetNumSignatureInputs(sig, &n[0]);
    LiteRtGetNumSignatureOutputs(sig, &n[1]);
    in.resize(n[0]);
    r.outputs.resize(n[1]);
    guarded[0].reserve(n[0]);  // the runtime keeps pointers into them
    guarded[1].reserve(n[1]);
    bool ok = inputs.empty() || inputs.size() == n[0];
    size_t total = 0;
    for (int side = 0; side < 2 && ok; ++side)
      for (LiteRtParamIndex k = 0; k < n[side] && ok; ++k) {
        LiteRtTensor t = nullptr;
        LiteRtRankedTensorType type{};
        (side ? LiteRtGetSignatureOutputTensorByIndex : LiteRtGetSignatureInputTensorByIndex)(sig, k, &t);
        ok = LiteRtGetRankedTensorType(t, &type) == kLiteRtStatusOk && type.layout.rank <= LITERT_TENSOR_MAX_RANK;
        size_t count = 1;
        for (uint32_t i = 0; ok && i < type.layout.rank; ++i, ok = count <= (size_t{1} << 20))
          count *= static_cast<size_t>(type.layout.dimensions[i] = std::max(type.layout.dimensions[i], 1));
        Floats& a = side ? r.outputs[k] : in[k];
        ok = ok && (total += count) <= (size_t{1} << 20) && (side || inputs.empty() || inputs[k].size() == count);
        if (!ok) break;
        a = side || inputs.empty() ? Floats(count) : inputs[k];
        guarded[side].emplace_back(a);
        buffers[side].push_back(nullptr);
        ok = LiteRtCreateTensorBufferFromHostMemory(&type, guarded[side].back().data(), count * 4, nullptr,
                                                    &buffers[side].back()) == kLiteRtStatusOk;
      }
    if (ok && LiteRtRunCompiledModel(compiled, 0, n[0], buffers[0].data(), n[1], buffers[1].data()) == kLiteRtStatusOk)
      r.stage = kRan;
    for (int side = 0; side < 2; ++side)
      for (size_t k = 0; k < guarded[side].size(); ++k) {
        if (const std::string d = guarded[side][k].damage(); !d.empty() && r.overrun.empty())
          r.overrun = (side ? "output " : "input ") + std::to_string(k) + ": " + d;
        if (side) r.outputs[k] = guarded[side][k].values();
      }
  }
  r.error = LiteRtGetEnvironmentLastError(env);
  for (auto& list : buffers)
    for (LiteRtTensorBuffer b : list) LiteRtDestroyTensorBuffer(b);
  LiteRtDestroyCompiledModel(compiled);
  LiteRtDestroyModel(model);
  LiteRtDestroyEnvironment(env);
  return r;
}

size_t count(const Dims& d) {
  size_t n = 1;
  for (int32_t x : d) n *= static_cast<size_t>(x);
  return n;
}

void for_each_index(const Dims& shape, const std::function<void(const std::vector<int>&)>& fn) {
  std::vector<int> index(shape.size(), 0);
  for (size_t n = count(shape), i = 0; i < n; ++i) {
    fn(index);
    for (int d = static_cast<int>(shape.size()) - 1; d >= 0 && ++index[d] == shape[d]; --d) index[d] = 0;
  }
}

size_t offset_of(const Dims& shape, const std::vector<int>& index) {
  size_t offset = 0;
  const size_t lead = index.size() - shape.size();
  for (size_t d = 0; d < shape.size(); ++d) offset = offset * shape[d] + (shape[d] == 1 ? 0 : index[lead + d]);
  return offset;
}

void expect_close(const Floats& actual, const Floats& expected, float tol) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    if (std::isnan(expected[i])) EXPECT_TRUE(std::isnan(actual[i])) << "at " << i;
    else ASSERT_NEAR(actual[i], expected[i], tol * (1.f + std::fabs(expected[i]))) << "at " << i;
  }
}

}  // namespace testing_models
