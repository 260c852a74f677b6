#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/schema/model_generated.h"

namespace runtime {

constexpr int kMaxRank = 8;

// Largest tensor the runtime accepts, in elements (256 MiB of floats); keeps
// every byte count and offset computed from a shape far from overflow.
constexpr int64_t kMaxElements = int64_t{1} << 26;

// Largest activation arena one compiled graph may plan, so that a hostile
// file cannot make compilation reserve and touch gigabytes.
constexpr size_t kMaxArenaBytes = size_t{1} << 30;

struct Shape {
  int rank = 0;
  int32_t dims[kMaxRank] = {};

  static Shape of(std::initializer_list<int32_t> dims);
  // Product of the dimensions, or kMaxElements + 1 once it passes the limit.
  int64_t elements() const;
  int32_t dim(int i) const { return dims[i]; }
  // Dimension counted from the end when negative (-1 is the last).
  int32_t back(int i) const { return dims[rank + i]; }
  bool operator==(const Shape& o) const;
  std::string str() const;
};

// One tensor of the main subgraph as the file declares it.
struct TensorDesc {
  fb::TensorType type = fb::TensorType_FLOAT32;
  Shape shape;
  bool has_shape = false;  // the file states a shape (rank 0 included)
  Shape signature;  // the shape signature when present, else the shape
  const uint8_t* data = nullptr;  // constant contents inside the file, or null
  size_t bytes = 0;
  std::string name;
  // Storage forms the compiler refuses: sparse constants, variable tensors.
  bool sparse = false;
  bool variable = false;
};

struct OperatorDesc {
  int32_t code = 0;           // builtin operator code
  bool custom = false;
  std::vector<int> inputs;    // tensor indices, -1 for an omitted optional input
  std::vector<int> outputs;
  const fb::Operator* table = nullptr;  // for the options
};

struct SignatureDesc {
  std::vector<int> inputs;    // tensor indices in signature order
  std::vector<int> outputs;
};

// A verified model file: every index is in range and every shape is sane,
// so the compiler may index without further checks. Owns the file bytes.
class Model {
 public:
  // Null with `error` set when the bytes are not a usable model.
  static std::unique_ptr<Model> parse(std::vector<uint8_t> bytes, std::string& error);

  const std::vector<TensorDesc>& tensors() const { return tensors_; }
  const std::vector<OperatorDesc>& operators() const { return operators_; }
  const std::vector<int>& inputs() const { return inputs_; }
  const std::vector<int>& outputs() const { return outputs_; }
  const SignatureDesc& signature() const { return signature_; }
  bool has_signature_def() const { return has_signature_def_; }

 private:
  bool read_tensors(const fb::Model& root, const fb::SubGraph& graph, std::string& error);
  bool read_operators(const fb::Model& root, const fb::SubGraph& graph, std::string& error);
  bool read_signature(const fb::Model& root, const fb::SubGraph& graph, std::string& error);

  std::vector<uint8_t> bytes_;
  std::vector<TensorDesc> tensors_;
  std::vector<OperatorDesc> operators_;
  std::vector<int> inputs_, outputs_;
  SignatureDesc signature_;
  bool has_signature_def_ = false;
};

// Size of one element of the type in bytes; 0 for types without a fixed size.
size_t element_size(fb::TensorType type);

}  // namespace runtime
