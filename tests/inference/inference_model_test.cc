// InferenceModel::load on good, malformed and hostile model files, each
// refused with its exact message; then the arrays it binds.
#include "inference/inference_model.h"

#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <span>
#include <fstream>

#include "tests/runtime/model_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_models;

const std::string kPath = (fs::temp_directory_path() / ("inference_model_test_" + std::to_string(::getpid()))).string();
const std::string kLoad = "Cannot load model " + kPath + ".", kCompile = "Cannot compile model " + kPath + ".";

// The model's fixed-size views, written and read whole.
void fill(std::span<float> to, std::initializer_list<float> values) {
  ASSERT_EQ(to.size(), values.size());
  std::copy(values.begin(), values.end(), to.begin());
}
std::vector<float> values(std::span<const float> from) { return {from.begin(), from.end()}; }

// Writes `bytes` to kPath and loads it; the message, or "" when it loads.
std::string load(InferenceModel& model, const std::vector<uint8_t>& bytes) {
  std::ofstream(kPath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string error;
  const bool loaded = model.load(kPath, error);
  EXPECT_EQ(loaded, error.empty()) << error;
  fs::remove(kPath);
  return error;
}
std::string load(const std::vector<uint8_t>& bytes) {
  InferenceModel model;
  return load(model, bytes);
}

std::vector<uint8_t> conv_model() {
  ModelBuilder m;
  const int in = m.tensor({1, 4, 4, 2});
  m.io({in}, {m.op(kConv2D, {in, m.constant({3, 1, 1, 2}, {1, 2, 3, 4, 5, 6}), m.constant({3}, {0.5f, 0, -1})},
                   {1, 4, 4, 3}, conv_options(fb::Padding_SAME, 1))});
  return m.finish();
}

TEST(InferenceModelLoad, EveryMessage) {
  std::string error = "previous text";
  InferenceModel missing, endless, never_loaded;
  EXPECT_FALSE(missing.load("/nonexistent/model.tflite", error));
  EXPECT_EQ(error, "Cannot load model /nonexistent/model.tflite.");
  EXPECT_FALSE(missing.run()) << "after a failed load";
  EXPECT_FALSE(never_loaded.run());
  // A reason from the bounded reader (whose own test has the others).
  EXPECT_FALSE(endless.load("/proc/self/pagemap", error));  // claims 0 bytes, never ends
  EXPECT_EQ(error, "Cannot load model /proc/self/pagemap: longer than it claims.");
  EXPECT_EQ(load({}), kLoad) << "empty";
  EXPECT_EQ(load(std::vector<uint8_t>(4096, 0)), kLoad) << "zeros";

  ModelBuilder tanh;
  const int x = tanh.tensor({4});
  tanh.io({x}, {tanh.op(kTanh, {x}, {4})});
  EXPECT_EQ(load(tanh.finish()), kCompile);

  ModelBuilder int_input;  // declared but read by nothing, so it compiles
  const int ints = int_input.tensor({2}, {}, fb::TensorType_INT32), in = int_input.tensor({3});
  int_input.io({ints, in}, {int_input.op(kNeg, {in}, {3})});
  EXPECT_EQ(load(int_input.finish()), "Unsupported model input in " + kPath + ".");

  ModelBuilder int_output;
  const int y = int_output.tensor({3});
  int_output.io({y}, {int_output.op(kNeg, {y}, {3}), int_output.ints({2}, {1, 2})});
  EXPECT_EQ(load(int_output.finish()), "Unsupported model output in " + kPath + ".");

  ModelBuilder batch;  // compiles at batch 2, but its RESHAPE cannot take batch 1
  const int z = batch.tensor({2, 3}, {-1, 3});
  batch.io({z}, {batch.op(kReshape, {z, batch.ints({1}, {6})}, {6})});
  EXPECT_EQ(load(batch.finish()), "Cannot fix the batch size of " + kPath + ".");
}

// (Mutated files at random: fuzz/model_loader_fuzz.cc.)
TEST(InferenceModelLoad, HostileFiles) {
  const std::vector<uint8_t> good = conv_model();
  for (size_t n = 0; n < good.size(); n += 1 + n / 64) {
    auto cut = good;
    cut.resize(n);
    EXPECT_EQ(load(cut), kLoad) << "truncated to " << n;
  }
  auto foreign = good;
  foreign[4] = 'X';  // file identifier
  EXPECT_EQ(load(foreign), kLoad);

  // Overflowing shapes, a signature against the shape, out-of-range indices, constant data of the wrong size.
  for (int fault = 0; fault < 11; ++fault) {
    SCOPED_TRACE(fault);
    const Dims shapes[] = {{65536, 65536, 65536}, {-5, 2}, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {2147483647, 2}};
    ModelBuilder m;
    const int in = fault < 4 ? m.tensor(shapes[fault]) : m.tensor({1, 3}, fault == 4 ? Dims{2, 3} : Dims{});
    const int out = m.tensor({1, 3});
    std::vector<int> inputs = {fault == 5 ? in + 7 : in};
    if (fault >= 8) inputs.push_back(m.constant({1, 3}, fault == 8 ? Floats{1, 2} : Floats{1, 2, 3}));
    m.write(fault >= 8 ? kAdd : kNeg, inputs, out);
    m.buffer_shift = fault == 9 ? 9 : 0;
    m.code_index_shift = fault == 10 ? 3 : 0;
    m.io({in}, {fault == 6 ? out + 1 : out});
    if (fault == 7) m.signature({in}, {out + 5});
    EXPECT_EQ(load(m.finish()), kLoad);
  }
  // Either operator code field names the operator: old files fill only the byte.
  for (int fields : {1, 2, 3}) {
    ModelBuilder m;
    const int in = m.tensor({2});
    m.io({in}, {m.op(kNeg, {in}, {2})});
    m.code_fields = fields;
    InferenceModel model;
    ASSERT_EQ(load(model, m.finish()), "");
    fill(model.input(0), {1.f, -2.f});
    ASSERT_TRUE(model.run());
    EXPECT_EQ(values(model.output(0)), (std::vector<float>{-1.f, 2.f}));
  }
}

TEST(InferenceModelLoad, GraphFaultsFailToCompile) {
  const Dims big = {1 << 26};
  for (int fault = 0; fault < 7; ++fault) {
    SCOPED_TRACE(fault);
    ModelBuilder m;
    const int a = m.tensor({2}), b = m.tensor({2}), c = m.tensor({2});
    m.io({a}, {b});
    if (fault == 0) m.write(kNeg, {c}, b), m.write(kNeg, {a}, c);  // reads a tensor before it is written
    if (fault == 1) m.write(kNeg, {b}, a), m.io({a, b}, {a});      // writes a graph input
    if (fault == 2) m.write(kNeg, {a}, b), m.write(kRelu, {a}, b);  // two operators write one tensor
    if (fault == 3) m.mark_variable(c), m.write(kAdd, {a, c}, b);   // a variable keeps state between runs
    if (fault == 4) m.io({a}, {m.op(kAdd, {a, a}, {3})});           // declared shape disagrees with the inferred
    if (fault == 5) {  // each output dimension legal, their product not
      const int x = m.tensor({1, 1, 1, 1, 1, 1, 1, 1});
      m.io({x}, {m.op(kPad, {x, m.ints({8, 2}, std::vector<int32_t>(16, 1 << 25))}, {})});
    } else if (fault == 6) {  // five 256 MiB tensors alive at once
      const int x = m.tensor(big);
      std::vector<int> branches;
      for (int i = 0; i < 5; ++i) branches.push_back(m.op(kNeg, {x}, big));
      int sum = branches[0];
      for (int i = 1; i < 5; ++i) sum = m.op(kAdd, {sum, branches[i]}, big);
      m.io({x}, {sum});
    }
    EXPECT_EQ(load(m.finish()), kCompile);
  }
}

TEST(InferenceModelLoad, ArraysFollowTheSignature) {
  struct Case {
    Dims shape, signature;
    size_t elements;
  };
  // Dynamic batch resized to 1, a fixed batch kept, a scalar as one element.
  for (const Case& c : {Case{{4, 3}, {-1, 3}, 3}, Case{{2, 3}, {}, 6}, Case{{}, {}, 1}}) {
    ModelBuilder m;
    const int in = m.tensor(c.shape, c.signature), out = m.tensor(c.shape, c.signature);
    m.write(kNeg, {in}, out);
    m.io({in}, {out});
    InferenceModel model;
    ASSERT_EQ(load(model, m.finish()), "");
    ASSERT_EQ(model.input(0).size(), c.elements);
    ASSERT_EQ(model.output(0).size(), c.elements);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(model.input(0).data()) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(model.output(0).data()) % 64, 0u);
    for (size_t i = 0; i < c.elements; ++i) model.input(0)[i] = static_cast<float>(i) + 1;
    ASSERT_TRUE(model.run());
    EXPECT_EQ(model.output(0).back(), -static_cast<float>(c.elements));
  }
  // The signature's order wins over the subgraph's lists.
  ModelBuilder m;
  const int a = m.tensor({2}), b = m.tensor({3}), na = m.op(kNeg, {a}, {2}), nb = m.op(kNeg, {b}, {3});
  m.io({a, b}, {na, nb});
  m.signature({b, a}, {nb, na});
  InferenceModel model;
  ASSERT_EQ(load(model, m.finish()), "");
  fill(model.input(0), {1, 2, 3});
  fill(model.input(1), {4, 5});
  ASSERT_TRUE(model.run());
  EXPECT_EQ(values(model.output(0)), (std::vector<float>{-1, -2, -3}));
  EXPECT_EQ(values(model.output(1)), (std::vector<float>{-4, -5}));
}

}  // namespace
