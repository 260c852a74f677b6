// The C surface of the runtime: handles around the model, the compiled graph
// and the caller's buffers. Every argument is checked here, at the library's
// edge; the graph underneath trusts what it is given.
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/read_file.h"
#include "runtime/graph.h"
#include "runtime/litert.h"
#include "runtime/model.h"

// The compiled models of one environment share one arena for their
// activations: a bridge runs its models one after another, so the arena is
// as large as the largest model needs rather than the sum of all, and each
// model writes its activations over memory the one before it has just
// touched, still in the caches. So a model of an environment compiles or
// runs only while no other one does; `busy` refuses any overlap.
struct LiteRtEnvironmentT {
  std::string last_error;
  runtime::AlignedFloats arena;
  std::atomic<bool> busy{false};
};

struct LiteRtTensorT {
  LiteRtRankedTensorType type{};
  std::string name;
};

struct LiteRtSignatureT {
  std::vector<LiteRtTensorT*> inputs, outputs;
};

struct LiteRtModelT {
  std::unique_ptr<runtime::Model> model;
  std::vector<std::unique_ptr<LiteRtTensorT>> tensors;  // one per signature slot
  LiteRtSignatureT signature;
};

struct LiteRtOptionsT {
  LiteRtHwAcceleratorSet accelerators = kLiteRtHwAcceleratorCpu;
};

struct LiteRtCompiledModelT {
  const runtime::Model* model = nullptr;  // owned by the LiteRtModel, which outlives this
  LiteRtEnvironmentT* environment = nullptr;  // not owned; outlives this, receives error texts
  std::vector<runtime::Shape> input_shapes;
  std::unique_ptr<runtime::Graph> graph;
  // Scratch for one run's pointers, sized at compile so runs allocate nothing.
  std::vector<float*> input_data, output_data;
};

struct LiteRtTensorBufferT {
  LiteRtRankedTensorType type{};
  float* data = nullptr;  // caller's memory, not owned unless `deallocator` is set
  size_t size = 0;
  int64_t elements = 0;
  LiteRtHostMemoryDeallocator deallocator = nullptr;
};

namespace {

LiteRtElementType element_type(runtime::fb::TensorType t) {
  switch (t) {
    case runtime::fb::TensorType_FLOAT32: return kLiteRtElementTypeFloat32;
    case runtime::fb::TensorType_FLOAT16: return kLiteRtElementTypeFloat16;
    case runtime::fb::TensorType_INT32: return kLiteRtElementTypeInt32;
    case runtime::fb::TensorType_UINT8: return kLiteRtElementTypeUInt8;
    case runtime::fb::TensorType_INT64: return kLiteRtElementTypeInt64;
    case runtime::fb::TensorType_STRING: return kLiteRtElementTypeString;
    case runtime::fb::TensorType_BOOL: return kLiteRtElementTypeBool;
    case runtime::fb::TensorType_INT16: return kLiteRtElementTypeInt16;
    case runtime::fb::TensorType_INT8: return kLiteRtElementTypeInt8;
    case runtime::fb::TensorType_FLOAT64: return kLiteRtElementTypeFloat64;
    default: return kLiteRtElementTypeNone;
  }
}

std::unique_ptr<LiteRtTensorT> make_tensor(const runtime::TensorDesc& d) {
  auto t = std::make_unique<LiteRtTensorT>();
  t->type.element_type = element_type(d.type);
  t->type.layout.rank = static_cast<uint32_t>(d.signature.rank);
  for (int i = 0; i < d.signature.rank; ++i) t->type.layout.dimensions[i] = d.signature.dims[i];
  t->name = d.name;
  return t;
}

LiteRtStatus create_model(LiteRtEnvironment env, std::vector<uint8_t> bytes, LiteRtModel* out) {
  std::string error;
  auto parsed = runtime::Model::parse(std::move(bytes), error);
  if (!parsed) {
    env->last_error = error;
    return kLiteRtStatusErrorInvalidModel;
  }
  auto model = std::make_unique<LiteRtModelT>();
  const auto& tensors = parsed->tensors();
  for (int t : parsed->signature().inputs) {
    model->tensors.push_back(make_tensor(tensors[t]));
    model->signature.inputs.push_back(model->tensors.back().get());
  }
  for (int t : parsed->signature().outputs) {
    model->tensors.push_back(make_tensor(tensors[t]));
    model->signature.outputs.push_back(model->tensors.back().get());
  }
  model->model = std::move(parsed);
  env->last_error.clear();
  *out = model.release();
  return kLiteRtStatusOk;
}

// Holds the environment's `busy` flag for one compile or run. When another
// holds it, the refusal is the status alone: the environment's error text
// belongs to the thread that holds the flag.
struct Exclusive {
  explicit Exclusive(LiteRtEnvironmentT& env) : env(env), held(!env.busy.exchange(true)) {}
  ~Exclusive() {
    if (held) env.busy.store(false);
  }
  LiteRtEnvironmentT& env;
  const bool held;
};

// Compiles for the given input shapes; on success replaces the graph.
LiteRtStatus compile(LiteRtCompiledModelT& compiled, const std::vector<runtime::Shape>& shapes) {
  LiteRtEnvironmentT& env = *compiled.environment;
  const Exclusive exclusive(env);
  if (!exclusive.held) return kLiteRtStatusErrorRuntimeFailure;
  std::string error;
  auto graph = runtime::Graph::compile(*compiled.model, shapes, error);
  if (!graph) {
    env.last_error = error;
    return kLiteRtStatusErrorCompilation;
  }
  // The shared arena grows here, never during a run.
  const size_t floats = graph->arena_bytes() / sizeof(float);
  if (floats > env.arena.size()) env.arena = runtime::AlignedFloats(floats);
  env.last_error.clear();
  compiled.graph = std::move(graph);
  compiled.input_shapes = shapes;
  compiled.input_data.assign(compiled.graph->num_inputs(), nullptr);
  compiled.output_data.assign(compiled.graph->num_outputs(), nullptr);
  return kLiteRtStatusOk;
}

// No exception may cross the C boundary: running out of memory while
// loading or compiling becomes a status like any other failure.
template <typename Fn>
LiteRtStatus guarded(LiteRtEnvironment env, Fn&& fn) noexcept {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    env->last_error = "out of memory";
    return kLiteRtStatusErrorMemoryAllocationFailure;
  } catch (...) {
    env->last_error = "internal error";
    return kLiteRtStatusErrorRuntimeFailure;
  }
}

// Far above any model file; what the file claims about its size is not
// trusted (read_regular_file reads at most one byte past this).
constexpr size_t kMaxModelBytes = size_t{1} << 30;

}  // namespace

extern "C" {

LiteRtStatus LiteRtCreateEnvironment(int num_options, const LiteRtEnvOption* options,
                                     LiteRtEnvironment* environment) {
  if (!environment || num_options < 0 || (num_options > 0 && !options)) return kLiteRtStatusErrorInvalidArgument;
  auto* env = new (std::nothrow) LiteRtEnvironmentT;
  if (!env) return kLiteRtStatusErrorMemoryAllocationFailure;
  *environment = env;
  return kLiteRtStatusOk;
}

void LiteRtDestroyEnvironment(LiteRtEnvironment environment) { delete environment; }

const char* LiteRtGetEnvironmentLastError(LiteRtEnvironment environment) {
  return environment ? environment->last_error.c_str() : "";
}

LiteRtStatus LiteRtCreateModelFromFile(LiteRtEnvironment environment, const char* filename, LiteRtModel* model) {
  if (!environment || !filename || !model) return kLiteRtStatusErrorInvalidArgument;
  return guarded(environment, [&] {
    std::vector<uint8_t> bytes;
    std::string why;
    if (!read_regular_file(filename, kMaxModelBytes, bytes, {}, &why)) {
      environment->last_error = why;
      return kLiteRtStatusErrorFileIO;
    }
    return create_model(environment, std::move(bytes), model);
  });
}

LiteRtStatus LiteRtCreateModelFromBuffer(LiteRtEnvironment environment, const void* data, size_t size,
                                         LiteRtModel* model) {
  if (!environment || (!data && size) || !model) return kLiteRtStatusErrorInvalidArgument;
  const auto* p = static_cast<const uint8_t*>(data);
  return guarded(environment, [&] { return create_model(environment, std::vector<uint8_t>(p, p + size), model); });
}

void LiteRtDestroyModel(LiteRtModel model) { delete model; }

LiteRtStatus LiteRtGetNumModelSignatures(LiteRtModel model, LiteRtParamIndex* num) {
  if (!model || !num) return kLiteRtStatusErrorInvalidArgument;
  *num = 1;
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtGetModelSignature(LiteRtModel model, LiteRtParamIndex index, LiteRtSignature* signature) {
  if (!model || !signature) return kLiteRtStatusErrorInvalidArgument;
  if (index != 0) return kLiteRtStatusErrorNotFound;
  *signature = &model->signature;
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtGetNumSignatureInputs(LiteRtSignature signature, LiteRtParamIndex* num) {
  if (!signature || !num) return kLiteRtStatusErrorInvalidArgument;
  *num = signature->inputs.size();
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtGetNumSignatureOutputs(LiteRtSignature signature, LiteRtParamIndex* num) {
  if (!signature || !num) return kLiteRtStatusErrorInvalidArgument;
  *num = signature->outputs.size();
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtGetSignatureInputTensorByIndex(LiteRtSignature signature, LiteRtParamIndex index,
                                                  LiteRtTensor* tensor) {
  if (!signature || !tensor) return kLiteRtStatusErrorInvalidArgument;
  if (index >= signature->inputs.size()) return kLiteRtStatusErrorNotFound;
  *tensor = signature->inputs[index];
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtGetSignatureOutputTensorByIndex(LiteRtSignature signature, LiteRtParamIndex index,
                                                   LiteRtTensor* tensor) {
  if (!signature || !tensor) return kLiteRtStatusErrorInvalidArgument;
  if (index >= signature->outputs.size()) return kLiteRtStatusErrorNotFound;
  *tensor = signature->outputs[index];
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtGetRankedTensorType(LiteRtTensor tensor, LiteRtRankedTensorType* type) {
  if (!tensor || !type) return kLiteRtStatusErrorInvalidArgument;
  *type = tensor->type;
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtGetTensorName(LiteRtTensor tensor, const char** name) {
  if (!tensor || !name) return kLiteRtStatusErrorInvalidArgument;
  *name = tensor->name.c_str();
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtCreateOptions(LiteRtOptions* options) {
  if (!options) return kLiteRtStatusErrorInvalidArgument;
  auto* o = new (std::nothrow) LiteRtOptionsT;
  if (!o) return kLiteRtStatusErrorMemoryAllocationFailure;
  *options = o;
  return kLiteRtStatusOk;
}

void LiteRtDestroyOptions(LiteRtOptions options) { delete options; }

LiteRtStatus LiteRtSetOptionsHardwareAccelerators(LiteRtOptions options, LiteRtHwAcceleratorSet accelerators) {
  if (!options) return kLiteRtStatusErrorInvalidArgument;
  options->accelerators = accelerators;
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtCreateCompiledModel(LiteRtEnvironment environment, LiteRtModel model, LiteRtOptions options,
                                       LiteRtCompiledModel* compiled_model) {
  if (!environment || !model || !compiled_model) return kLiteRtStatusErrorInvalidArgument;
  if (options && !(options->accelerators & kLiteRtHwAcceleratorCpu)) {
    environment->last_error = "only the CPU accelerator exists";
    return kLiteRtStatusErrorUnsupported;
  }
  return guarded(environment, [&] {
    auto compiled = std::make_unique<LiteRtCompiledModelT>();
    compiled->model = model->model.get();
    compiled->environment = environment;
    std::vector<runtime::Shape> shapes;
    for (int t : model->model->signature().inputs) shapes.push_back(model->model->tensors()[t].shape);
    const LiteRtStatus status = compile(*compiled, shapes);
    if (status == kLiteRtStatusOk) *compiled_model = compiled.release();
    return status;
  });
}

void LiteRtDestroyCompiledModel(LiteRtCompiledModel compiled_model) { delete compiled_model; }

LiteRtStatus LiteRtCompiledModelResizeInputTensor(LiteRtCompiledModel compiled_model, LiteRtParamIndex signature_index,
                                                  LiteRtParamIndex input_index, const int* dims, size_t dims_size) {
  if (!compiled_model || (!dims && dims_size)) return kLiteRtStatusErrorInvalidArgument;
  if (signature_index != 0 || input_index >= compiled_model->input_shapes.size())
    return kLiteRtStatusErrorNotFound;
  const int t = compiled_model->model->signature().inputs[input_index];
  const runtime::Shape& declared = compiled_model->model->tensors()[t].signature;
  if (dims_size != static_cast<size_t>(declared.rank)) return kLiteRtStatusErrorInvalidArgument;
  runtime::Shape shape;
  int64_t count = 1;
  for (size_t i = 0; i < dims_size; ++i) {
    if (dims[i] < 1 || (declared.dims[i] != -1 && declared.dims[i] != dims[i]))
      return kLiteRtStatusErrorInvalidArgument;
    count *= dims[i];
    if (count > runtime::kMaxElements) return kLiteRtStatusErrorInvalidArgument;
    shape.dims[shape.rank++] = dims[i];
  }
  if (shape == compiled_model->input_shapes[input_index]) return kLiteRtStatusOk;
  return guarded(compiled_model->environment, [&] {
    std::vector<runtime::Shape> shapes = compiled_model->input_shapes;
    shapes[input_index] = shape;
    return compile(*compiled_model, shapes);
  });
}

LiteRtStatus LiteRtRunCompiledModel(LiteRtCompiledModel compiled_model, LiteRtParamIndex signature_index,
                                    size_t num_input_buffers, LiteRtTensorBuffer* input_buffers,
                                    size_t num_output_buffers, LiteRtTensorBuffer* output_buffers) {
  if (!compiled_model) return kLiteRtStatusErrorInvalidArgument;
  if (signature_index != 0) return kLiteRtStatusErrorNotFound;
  runtime::Graph& graph = *compiled_model->graph;
  if (num_input_buffers != graph.num_inputs() || num_output_buffers != graph.num_outputs() ||
      (num_input_buffers && !input_buffers) || (num_output_buffers && !output_buffers))
    return kLiteRtStatusErrorInvalidArgument;
  // Exact element counts: a kernel may then read and write whole tensors
  // without ever passing the end of a caller's array.
  for (size_t k = 0; k < num_input_buffers; ++k) {
    const LiteRtTensorBufferT* b = input_buffers[k];
    if (!b || b->elements != graph.input_shape(k).elements()) return kLiteRtStatusErrorInvalidArgument;
    compiled_model->input_data[k] = b->data;
  }
  for (size_t k = 0; k < num_output_buffers; ++k) {
    const LiteRtTensorBufferT* b = output_buffers[k];
    if (!b || b->elements != graph.output_shape(k).elements()) return kLiteRtStatusErrorInvalidArgument;
    compiled_model->output_data[k] = b->data;
  }
  const Exclusive exclusive(*compiled_model->environment);
  if (!exclusive.held) return kLiteRtStatusErrorRuntimeFailure;
  graph.run(compiled_model->input_data.data(), compiled_model->output_data.data(),
            compiled_model->environment->arena.data());
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtCompiledModelSetProfiling(LiteRtCompiledModel compiled_model, int enabled) {
  if (!compiled_model) return kLiteRtStatusErrorInvalidArgument;
  return guarded(compiled_model->environment, [&] {
    compiled_model->graph->set_profiling(enabled);
    return kLiteRtStatusOk;
  });
}

LiteRtStatus LiteRtCompiledModelGetNumProfileEntries(LiteRtCompiledModel compiled_model, size_t* num) {
  if (!compiled_model || !num) return kLiteRtStatusErrorInvalidArgument;
  *num = compiled_model->graph->profile().size();
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtCompiledModelGetProfileEntry(LiteRtCompiledModel compiled_model, size_t index,
                                                const char** op_name, uint64_t* nanoseconds, uint64_t* steps) {
  if (!compiled_model || !op_name || !nanoseconds || !steps) return kLiteRtStatusErrorInvalidArgument;
  const auto& profile = compiled_model->graph->profile();
  if (index >= profile.size()) return kLiteRtStatusErrorNotFound;
  *op_name = compiled_model->graph->profile_name(index);
  *nanoseconds = profile[index].nanoseconds;
  *steps = profile[index].steps;
  return kLiteRtStatusOk;
}

LiteRtStatus LiteRtCreateTensorBufferFromHostMemory(const LiteRtRankedTensorType* type, void* host_memory,
                                                    size_t size, LiteRtHostMemoryDeallocator deallocator,
                                                    LiteRtTensorBuffer* buffer) {
  if (!type || !host_memory || !buffer) return kLiteRtStatusErrorInvalidArgument;
  if (type->element_type != kLiteRtElementTypeFloat32 || type->layout.rank > LITERT_TENSOR_MAX_RANK)
    return kLiteRtStatusErrorInvalidArgument;
  if (reinterpret_cast<uintptr_t>(host_memory) % alignof(float) != 0) return kLiteRtStatusErrorInvalidArgument;
  int64_t count = 1;
  for (uint32_t i = 0; i < type->layout.rank; ++i) {
    const int32_t d = type->layout.dimensions[i];
    if (d < 1) return kLiteRtStatusErrorInvalidArgument;
    count *= d;
    if (count > runtime::kMaxElements) return kLiteRtStatusErrorInvalidArgument;
  }
  if (size < static_cast<size_t>(count) * sizeof(float)) return kLiteRtStatusErrorInvalidArgument;
  auto* b = new (std::nothrow) LiteRtTensorBufferT;
  if (!b) return kLiteRtStatusErrorMemoryAllocationFailure;
  b->type = *type;
  b->data = static_cast<float*>(host_memory);
  b->size = size;
  b->elements = count;
  b->deallocator = deallocator;
  *buffer = b;
  return kLiteRtStatusOk;
}

void LiteRtDestroyTensorBuffer(LiteRtTensorBuffer buffer) {
  if (!buffer) return;
  if (buffer->deallocator) buffer->deallocator(buffer->data);
  delete buffer;
}

}  // extern "C"
