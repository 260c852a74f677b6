#pragma once

#include <oneapi/dnnl/dnnl.hpp>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace runtime::kernels {

// Limits oneDNN to the calling thread. Debian's oneDNN runs on OpenMP, whose
// team size is a per-thread setting that oneDNN reads both when it plans a
// primitive and when it runs one, so create and run both call this. It sets
// the team size through the OpenMP API only when it is not 1 already.
void use_one_thread();

// The engine and stream a kernel runs on. Every kernel owns its own pair:
// both are small handles, and owning them keeps the kernels free of shared
// process-wide state.
struct DnnlDevice {
  dnnl::engine engine{dnnl::engine::kind::cpu, 0};
  dnnl::stream stream{engine};
};

// One oneDNN primitive whose arguments are all bound when the kernel is
// created, including a scratchpad it owns, so that a run only swaps the data
// pointers of the caller's tensors and executes. Nothing in run() allocates
// on our side; oneDNN's execute itself keeps a small argument map per call.
class BoundPrimitive {
 public:
  // `primitive` must have been created with the user scratchpad mode.
  BoundPrimitive(const DnnlDevice& device, const dnnl::primitive& primitive,
                 const dnnl::memory::desc& scratchpad);

  // Binds `memory` as argument `arg` for every run; the returned slot names it
  // in set_handle. Memories holding weights keep their own buffers.
  int bind(int arg, const dnnl::memory& memory);

  // Points the memory in `slot` at the caller's array for the next run. The
  // array is only read or written during execute().
  void set_handle(int slot, const void* data);

  void execute();

 private:
  dnnl::stream stream_;
  dnnl::primitive primitive_;
  std::vector<dnnl::memory> memories_;
  std::vector<dnnl_exec_arg_t> args_;
};

// The message of a oneDNN failure, for the caller's error string.
std::string describe_dnnl_error(const dnnl::error& e);

// Builds a kernel with oneDNN held to one thread (it splits work by the team
// size while planning); a refusal by oneDNN becomes `error`, prefixed by `what`.
template <typename Kernel, typename... Args>
std::unique_ptr<Kernel> create_on_one_thread(const char* what, std::string& error, Args&&... args) {
  use_one_thread();
  try {
    return std::make_unique<Kernel>(std::forward<Args>(args)...);
  } catch (const dnnl::error& e) {
    error = std::string(what) + ": " + describe_dnnl_error(e);
    return nullptr;
  }
}

}  // namespace runtime::kernels
