#include "runtime/model.h"

#include <flatbuffers/flatbuffers.h>

#include <algorithm>

namespace runtime {

Shape Shape::of(std::initializer_list<int32_t> dims) {
  Shape s;
  for (int32_t d : dims) s.dims[s.rank++] = d;
  return s;
}

int64_t Shape::elements() const {
  // Saturates just above the limit, so no product of hostile dimensions
  // can overflow on its way to the check against kMaxElements.
  int64_t n = 1;
  for (int i = 0; i < rank; ++i) {
    n *= dims[i];
    if (n > kMaxElements) return kMaxElements + 1;
  }
  return n;
}

bool Shape::operator==(const Shape& o) const {
  return rank == o.rank && std::equal(dims, dims + rank, o.dims);
}

std::string Shape::str() const {
  std::string s = "[";
  for (int i = 0; i < rank; ++i) {
    if (i) s.push_back(',');
    s.append(std::to_string(dims[i]));
  }
  s.push_back(']');
  return s;
}

size_t element_size(fb::TensorType type) {
  switch (type) {
    case fb::TensorType_FLOAT32:
    case fb::TensorType_INT32:
      return 4;
    case fb::TensorType_FLOAT16:
    case fb::TensorType_INT16:
      return 2;
    case fb::TensorType_UINT8:
    case fb::TensorType_INT8:
    case fb::TensorType_BOOL:
      return 1;
    case fb::TensorType_INT64:
    case fb::TensorType_FLOAT64:
    case fb::TensorType_COMPLEX64:
      return 8;
    default:
      return 0;
  }
}

namespace {

bool fail(std::string& error, std::string message) {
  error = std::move(message);
  return false;
}

// Reads a dimension list; `allow_dynamic` admits -1. Caps rank and element count.
bool read_dims(const flatbuffers::Vector<int32_t>* v, bool allow_dynamic, Shape& out) {
  out = Shape{};
  if (!v) return true;
  if (v->size() > static_cast<uint32_t>(kMaxRank)) return false;
  int64_t count = 1;
  for (uint32_t i = 0; i < v->size(); ++i) {
    const int32_t d = v->Get(i);
    if (d < (allow_dynamic ? -1 : 0)) return false;
    count *= std::max<int64_t>(d, 1);
    if (count > kMaxElements) return false;
    out.dims[out.rank++] = d;
  }
  return true;
}

bool index_ok(int64_t index, size_t size) { return index >= 0 && static_cast<uint64_t>(index) < size; }

}  // namespace

std::unique_ptr<Model> Model::parse(std::vector<uint8_t> bytes, std::string& error) {
  if (bytes.size() < 8 || !flatbuffers::BufferHasIdentifier(bytes.data(), fb::ModelIdentifier())) {
    fail(error, "not a model file (no TFL3 identifier)");
    return nullptr;
  }
  if (bytes.size() >= FLATBUFFERS_MAX_BUFFER_SIZE) {
    fail(error, "model file too large");
    return nullptr;
  }
  // Depth and table limits bound the verifier's own work on hostile input.
  flatbuffers::Verifier verifier(bytes.data(), bytes.size(), 64, 1u << 22);
  if (!fb::VerifyModelBuffer(verifier)) {
    fail(error, "flatbuffer verification failed");
    return nullptr;
  }
  auto model = std::unique_ptr<Model>(new Model);
  model->bytes_ = std::move(bytes);
  const fb::Model& root = *fb::GetModel(model->bytes_.data());
  if (!root.subgraphs() || root.subgraphs()->size() == 0) {
    fail(error, "model has no subgraph");
    return nullptr;
  }
  const fb::SubGraph* graph = root.subgraphs()->Get(0);
  if (!graph || !model->read_tensors(root, *graph, error) || !model->read_operators(root, *graph, error) ||
      !model->read_signature(root, *graph, error)) {
    if (!graph) fail(error, "main subgraph missing");
    return nullptr;
  }
  return model;
}

bool Model::read_tensors(const fb::Model& root, const fb::SubGraph& graph, std::string& error) {
  const auto* tensors = graph.tensors();
  const auto* buffers = root.buffers();
  const size_t num_buffers = buffers ? buffers->size() : 0;
  const size_t count = tensors ? tensors->size() : 0;
  tensors_.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const fb::Tensor* t = tensors->Get(static_cast<uint32_t>(i));
    TensorDesc& d = tensors_[i];
    const std::string where = "tensor " + std::to_string(i);
    if (!t) return fail(error, where + " missing");
    d.type = t->type();
    if (t->name()) d.name = t->name()->str();
    d.sparse = t->sparsity() != nullptr;
    d.variable = t->is_variable();
    d.has_shape = t->shape() != nullptr;
    if (!read_dims(t->shape(), false, d.shape)) return fail(error, where + " has a bad shape");
    d.signature = d.shape;
    if (t->shape_signature()) {
      if (!read_dims(t->shape_signature(), true, d.signature) || d.signature.rank != d.shape.rank)
        return fail(error, where + " has a bad shape signature");
      for (int k = 0; k < d.shape.rank; ++k)
        if (d.signature.dims[k] != -1 && d.signature.dims[k] != d.shape.dims[k])
          return fail(error, where + " shape disagrees with its signature");
    }
    if (t->buffer() != 0) {
      if (!index_ok(t->buffer(), num_buffers)) return fail(error, where + " buffer index out of range");
      const fb::Buffer* b = buffers->Get(t->buffer());
      if (!b) return fail(error, where + " buffer missing");
      if (b->offset() != 0 || b->size() != 0) return fail(error, where + " uses external buffer data");
      if (b->data() && b->data()->size() > 0) {
        d.data = b->data()->data();
        d.bytes = b->data()->size();
        const size_t size = element_size(d.type);
        if (size != 0 && !d.sparse && d.bytes != static_cast<size_t>(d.shape.elements()) * size)
          return fail(error, where + " data size does not match its shape");
      }
    }
  }
  return true;
}

bool Model::read_operators(const fb::Model& root, const fb::SubGraph& graph, std::string& error) {
  const auto* codes = root.operator_codes();
  const size_t num_codes = codes ? codes->size() : 0;
  const auto* ops = graph.operators();
  const size_t num_tensors = tensors_.size();
  auto read_list = [&](const flatbuffers::Vector<int32_t>* v, bool optional, std::vector<int>& out) {
    out.clear();
    if (!v) return true;
    for (uint32_t k = 0; k < v->size(); ++k) {
      const int32_t t = v->Get(k);
      if (!(optional && t == -1) && !index_ok(t, num_tensors)) return false;
      out.push_back(t);
    }
    return true;
  };
  const size_t count = ops ? ops->size() : 0;
  operators_.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const fb::Operator* op = ops->Get(static_cast<uint32_t>(i));
    const std::string where = "operator " + std::to_string(i);
    if (!op) return fail(error, where + " missing");
    OperatorDesc& d = operators_[i];
    d.table = op;
    if (!index_ok(op->opcode_index(), num_codes) || !codes->Get(op->opcode_index()))
      return fail(error, where + " operator code index out of range");
    const fb::OperatorCode* code = codes->Get(op->opcode_index());
    // Old files carry the code in a byte field, new ones in an int; the
    // larger of the two is the real one.
    d.code = std::max<int32_t>(code->deprecated_builtin_code(), code->builtin_code());
    d.custom = code->custom_code() != nullptr;
    if (!read_list(op->inputs(), true, d.inputs) || !read_list(op->outputs(), false, d.outputs))
      return fail(error, where + " tensor index out of range");
  }
  if (!read_list(graph.inputs(), false, inputs_) || !read_list(graph.outputs(), false, outputs_))
    return fail(error, "subgraph input or output index out of range");
  return true;
}

bool Model::read_signature(const fb::Model& root, const fb::SubGraph&, std::string& error) {
  const auto* defs = root.signature_defs();
  if (!defs || defs->size() == 0) {
    signature_.inputs = inputs_;
    signature_.outputs = outputs_;
    return true;
  }
  const fb::SignatureDef* def = defs->Get(0);
  if (!def) return fail(error, "signature 0 missing");
  if (def->subgraph_index() != 0) return fail(error, "signature 0 does not name the main subgraph");
  has_signature_def_ = true;
  auto read_maps = [&](const flatbuffers::Vector<flatbuffers::Offset<fb::TensorMap>>* maps,
                       std::vector<int>& out) {
    if (!maps) return true;
    for (uint32_t k = 0; k < maps->size(); ++k) {
      const fb::TensorMap* m = maps->Get(k);
      if (!m || !index_ok(m->tensor_index(), tensors_.size())) return false;
      out.push_back(static_cast<int>(m->tensor_index()));
    }
    return true;
  };
  if (!read_maps(def->inputs(), signature_.inputs) || !read_maps(def->outputs(), signature_.outputs))
    return fail(error, "signature 0 tensor index out of range");
  return true;
}

}  // namespace runtime
