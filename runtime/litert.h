/* The runtime's whole public surface: load a .tflite model, compile it for
 * the CPU and run it on caller-owned float arrays.
 *
 * Conventions: every function returns a LiteRtStatus; on any result other
 * than kLiteRtStatusOk the output parameters are left untouched. Every call
 * fails with kLiteRtStatusErrorInvalidArgument for a null handle or a null
 * output pointer; other failures are listed at each call. No call throws. Create
 * functions hand out a handle owned by the caller; every Destroy function
 * accepts null. Handles that a Get function returns (signatures, tensors)
 * are owned by the model and live as long as it does. A compiled model and
 * its tensor buffers must be destroyed before the model and the environment
 * they were made from. Nothing here is thread-safe: one thread uses one
 * environment and everything made from it. */
#ifndef BRIDGE_RUNTIME_LITERT_H_
#define BRIDGE_RUNTIME_LITERT_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LITERT_API __attribute__((visibility("default")))

typedef enum {
  kLiteRtStatusOk = 0,
  kLiteRtStatusErrorInvalidArgument = 1,
  kLiteRtStatusErrorMemoryAllocationFailure = 2,
  kLiteRtStatusErrorRuntimeFailure = 3,
  kLiteRtStatusErrorNotFound = 6,
  kLiteRtStatusErrorUnsupported = 7,
  kLiteRtStatusErrorFileIO = 500,
  kLiteRtStatusErrorInvalidModel = 501,
  kLiteRtStatusErrorCompilation = 1000,
} LiteRtStatus;

typedef enum {
  kLiteRtElementTypeNone = 0,
  kLiteRtElementTypeFloat32 = 1,
  kLiteRtElementTypeInt32 = 2,
  kLiteRtElementTypeUInt8 = 3,
  kLiteRtElementTypeInt64 = 4,
  kLiteRtElementTypeString = 5,
  kLiteRtElementTypeBool = 6,
  kLiteRtElementTypeInt16 = 7,
  kLiteRtElementTypeInt8 = 9,
  kLiteRtElementTypeFloat16 = 10,
  kLiteRtElementTypeFloat64 = 11,
} LiteRtElementType;

/* Accelerator bit set; only the CPU exists here. */
typedef int LiteRtHwAcceleratorSet;
enum { kLiteRtHwAcceleratorNone = 0, kLiteRtHwAcceleratorCpu = 1 };

typedef size_t LiteRtParamIndex;

#define LITERT_TENSOR_MAX_RANK 8

/* Dimensions of a tensor, outermost first. A dimension of -1 is dynamic. */
typedef struct {
  uint32_t rank;
  int32_t dimensions[LITERT_TENSOR_MAX_RANK];
} LiteRtLayout;

typedef struct {
  LiteRtElementType element_type;
  LiteRtLayout layout;
} LiteRtRankedTensorType;

/* Environment options are accepted for interface compatibility; none is
 * understood yet. */
typedef struct {
  int tag;
  const void* value;
} LiteRtEnvOption;

typedef struct LiteRtEnvironmentT* LiteRtEnvironment;
typedef struct LiteRtModelT* LiteRtModel;
typedef struct LiteRtOptionsT* LiteRtOptions;
typedef struct LiteRtCompiledModelT* LiteRtCompiledModel;
typedef struct LiteRtSignatureT* LiteRtSignature;
typedef struct LiteRtTensorT* LiteRtTensor;
typedef struct LiteRtTensorBufferT* LiteRtTensorBuffer;

typedef void (*LiteRtHostMemoryDeallocator)(void* host_memory);

/* ---- Environment ---- */

/* Creates the environment and restricts the math libraries to one thread.
 * The models compiled in one environment share one arena for their
 * activations, so they compile and run one at a time: a compile or run that
 * overlaps another of the same environment fails with
 * kLiteRtStatusErrorRuntimeFailure. Models meant to run at the same time
 * take environments of their own.
 * Fails with kLiteRtStatusErrorInvalidArgument when `environment` is null,
 * or num_options is negative, or options is null while num_options > 0. */
LITERT_API LiteRtStatus LiteRtCreateEnvironment(int num_options, const LiteRtEnvOption* options,
                                                LiteRtEnvironment* environment);
LITERT_API void LiteRtDestroyEnvironment(LiteRtEnvironment environment);

/* Why the last failed model load or compilation made with this environment
 * failed, in one line; "" when nothing failed. Owned by the environment, valid
 * until its next call. Null environment: "". */
LITERT_API const char* LiteRtGetEnvironmentLastError(LiteRtEnvironment environment);

/* ---- Model ---- */

/* Reads, verifies and checks a .tflite file. Fails with
 * kLiteRtStatusErrorFileIO when the file cannot be read (not a regular file,
 * longer than its claimed size, above 1 GiB, or a system error) and
 * kLiteRtStatusErrorInvalidModel when it is not a well-formed model (the
 * reason goes to LiteRtGetEnvironmentLastError: for a file that cannot be
 * read, the system's text for the error or a short phrase). */
LITERT_API LiteRtStatus LiteRtCreateModelFromFile(LiteRtEnvironment environment, const char* filename,
                                                  LiteRtModel* model);
/* Same, from memory; the bytes are copied. */
LITERT_API LiteRtStatus LiteRtCreateModelFromBuffer(LiteRtEnvironment environment, const void* data,
                                                    size_t size, LiteRtModel* model);
LITERT_API void LiteRtDestroyModel(LiteRtModel model);

/* Signature 0 is the model's first SignatureDef, or else the main subgraph's
 * own inputs and outputs. Fails with kLiteRtStatusErrorNotFound for any other
 * index. */
LITERT_API LiteRtStatus LiteRtGetNumModelSignatures(LiteRtModel model, LiteRtParamIndex* num);
LITERT_API LiteRtStatus LiteRtGetModelSignature(LiteRtModel model, LiteRtParamIndex index,
                                                LiteRtSignature* signature);
LITERT_API LiteRtStatus LiteRtGetNumSignatureInputs(LiteRtSignature signature, LiteRtParamIndex* num);
LITERT_API LiteRtStatus LiteRtGetNumSignatureOutputs(LiteRtSignature signature, LiteRtParamIndex* num);
/* kLiteRtStatusErrorNotFound when the index is out of range. */
LITERT_API LiteRtStatus LiteRtGetSignatureInputTensorByIndex(LiteRtSignature signature,
                                                             LiteRtParamIndex index,
                                                             LiteRtTensor* tensor);
LITERT_API LiteRtStatus LiteRtGetSignatureOutputTensorByIndex(LiteRtSignature signature,
                                                              LiteRtParamIndex index,
                                                              LiteRtTensor* tensor);

/* The tensor's element type and its declared dimensions: the shape signature
 * (with -1 for dynamic dimensions) when the model has one, else the shape. */
LITERT_API LiteRtStatus LiteRtGetRankedTensorType(LiteRtTensor tensor, LiteRtRankedTensorType* type);
/* The tensor's name, owned by the model; "" when it has none. */
LITERT_API LiteRtStatus LiteRtGetTensorName(LiteRtTensor tensor, const char** name);

/* ---- Options ---- */

LITERT_API LiteRtStatus LiteRtCreateOptions(LiteRtOptions* options);
LITERT_API void LiteRtDestroyOptions(LiteRtOptions options);
/* kLiteRtStatusErrorInvalidArgument for a null handle. */
LITERT_API LiteRtStatus LiteRtSetOptionsHardwareAccelerators(LiteRtOptions options,
                                                             LiteRtHwAcceleratorSet accelerators);

/* ---- Compiled model ---- */

/* Validates every operator, infers every shape, creates the kernels and
 * plans all activation memory. Fails with kLiteRtStatusErrorCompilation when
 * the model uses an operator, option value or tensor type this runtime does
 * not implement or whose shapes do not fit (reason in
 * LiteRtGetEnvironmentLastError), kLiteRtStatusErrorUnsupported when the
 * options exclude the CPU. Null options mean the CPU. */
LITERT_API LiteRtStatus LiteRtCreateCompiledModel(LiteRtEnvironment environment, LiteRtModel model,
                                                  LiteRtOptions options,
                                                  LiteRtCompiledModel* compiled_model);
LITERT_API void LiteRtDestroyCompiledModel(LiteRtCompiledModel compiled_model);

/* Gives a signature input new dimensions (same rank; fixed dimensions of the
 * shape signature must keep their value) and compiles again. On failure
 * (kLiteRtStatusErrorInvalidArgument, kLiteRtStatusErrorCompilation) the
 * previous compilation stays in effect. */
LITERT_API LiteRtStatus LiteRtCompiledModelResizeInputTensor(LiteRtCompiledModel compiled_model,
                                                             LiteRtParamIndex signature_index,
                                                             LiteRtParamIndex input_index,
                                                             const int* dims, size_t dims_size);

/* Runs the whole graph once: reads the input buffers, writes the output
 * buffers, allocates nothing. Fails with kLiteRtStatusErrorInvalidArgument,
 * before touching any memory, when the counts differ from the signature's,
 * a buffer is null, or a buffer's element count differs from its tensor's. */
LITERT_API LiteRtStatus LiteRtRunCompiledModel(LiteRtCompiledModel compiled_model,
                                               LiteRtParamIndex signature_index,
                                               size_t num_input_buffers,
                                               LiteRtTensorBuffer* input_buffers,
                                               size_t num_output_buffers,
                                               LiteRtTensorBuffer* output_buffers);

/* Per-operator timing for tools: while enabled, every run adds each step's
 * time to its operator type. Entries are in order of first appearance. With
 * `enabled` 2 there is one entry per step instead, in execution order, named
 * by its operator and the shapes it reads and writes. */
LITERT_API LiteRtStatus LiteRtCompiledModelSetProfiling(LiteRtCompiledModel compiled_model, int enabled);
LITERT_API LiteRtStatus LiteRtCompiledModelGetNumProfileEntries(LiteRtCompiledModel compiled_model,
                                                                size_t* num);
/* The name stays valid until profiling is set again or the model is destroyed. */
LITERT_API LiteRtStatus LiteRtCompiledModelGetProfileEntry(LiteRtCompiledModel compiled_model,
                                                           size_t index, const char** op_name,
                                                           uint64_t* nanoseconds, uint64_t* steps);

/* ---- Tensor buffers ---- */

/* Wraps caller memory of `size` bytes holding a tensor of `type` (float32
 * only, every dimension at least 1). The memory is not copied and must stay
 * valid until the buffer is destroyed; `deallocator`, when not null, is
 * called with it then. Fails with kLiteRtStatusErrorInvalidArgument for a
 * null argument, a non-float32 type, a dimension below 1, memory not aligned
 * for floats, or a size below the tensor's byte size. */
LITERT_API LiteRtStatus LiteRtCreateTensorBufferFromHostMemory(const LiteRtRankedTensorType* type,
                                                               void* host_memory, size_t size,
                                                               LiteRtHostMemoryDeallocator deallocator,
                                                               LiteRtTensorBuffer* buffer);
LITERT_API void LiteRtDestroyTensorBuffer(LiteRtTensorBuffer buffer);

#ifdef __cplusplus
}
#endif

#endif /* BRIDGE_RUNTIME_LITERT_H_ */
