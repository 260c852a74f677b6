#include "runtime/kernels/dnnl_primitive.h"

#include <omp.h>

#include <cassert>
#include <string>

namespace runtime::kernels {

void use_one_thread() {
  if (omp_get_max_threads() != 1) omp_set_num_threads(1);
}

BoundPrimitive::BoundPrimitive(const DnnlDevice& device, const dnnl::primitive& primitive,
                               const dnnl::memory::desc& scratchpad)
    : stream_(device.stream), primitive_(primitive) {
  if (scratchpad.get_size() > 0) bind(DNNL_ARG_SCRATCHPAD, dnnl::memory(scratchpad, device.engine));
}

int BoundPrimitive::bind(int arg, const dnnl::memory& memory) {
  memories_.push_back(memory);
  args_.push_back({arg, memory.get()});
  return static_cast<int>(memories_.size()) - 1;
}

void BoundPrimitive::set_handle(int slot, const void* data) {
  // oneDNN's memory handle is not const-qualified; inputs are only read.
  [[maybe_unused]] const dnnl_status_t status =
      dnnl_memory_set_data_handle(memories_[slot].get(), const_cast<void*>(data));
  assert(status == dnnl_success);
}

void BoundPrimitive::execute() {
  use_one_thread();
  // The C entry point takes the prepared argument array as it is; the C++
  // wrapper would build a new vector from a map on every call.
  [[maybe_unused]] dnnl_status_t status = dnnl_primitive_execute(
      primitive_.get(), stream_.get(), static_cast<int>(args_.size()), args_.data());
  assert(status == dnnl_success);
  status = dnnl_stream_wait(stream_.get());
  assert(status == dnnl_success);
}

std::string describe_dnnl_error(const dnnl::error& e) {
  return std::string("oneDNN: ") + e.what() + " (status " + std::to_string(e.status) + ")";
}

}  // namespace runtime::kernels
