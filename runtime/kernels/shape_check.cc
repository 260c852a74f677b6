#include "runtime/kernels/shape_check.h"

#include <cstdint>
#include <initializer_list>

namespace runtime::kernels {
namespace {

// Element counts stay below 2^31 so that int index arithmetic in any
// implementation cannot overflow; no model of ours comes near it.
constexpr int64_t kIndexableElements = int64_t{1} << 31;

bool positive(const char* name, int value, std::string& error) {
  if (value > 0) return true;
  error = std::string(name) + " must be positive, got " + std::to_string(value);
  return false;
}

bool non_negative(const char* name, int value, std::string& error) {
  if (value >= 0) return true;
  error = std::string(name) + " must not be negative, got " + std::to_string(value);
  return false;
}

bool small_enough(const char* what, std::initializer_list<int> dims, std::string& error) {
  int64_t count = 1;
  for (int dim : dims) {
    count *= dim;  // both factors are below 2^31, so the product fits
    if (count >= kIndexableElements) {
      error = std::string(what) + " has too many elements";
      return false;
    }
  }
  return true;
}

bool known_activation(Activation activation, std::string& error) {
  if (activation == Activation::kNone || activation == Activation::kRelu ||
      activation == Activation::kRelu6)
    return true;
  error = "unknown activation " + std::to_string(static_cast<int>(activation));
  return false;
}

// Output size of one spatial axis; 0 when the kernel does not fit.
int64_t axis_output_size(int in, int kernel, int stride, int dilation, int pad_before,
                         int pad_after) {
  const int64_t extent = int64_t{in} + pad_before + pad_after;
  const int64_t reach = int64_t{kernel - 1} * dilation + 1;
  if (extent < reach) return 0;
  return (extent - reach) / stride + 1;
}

bool check_axis(const char* axis, int in, int out, int kernel, int stride, int dilation,
                int pad_before, int pad_after, std::string& error) {
  const int64_t expected = axis_output_size(in, kernel, stride, dilation, pad_before, pad_after);
  if (expected < 1) {
    error = std::string("convolution ") + axis + ": kernel " + std::to_string(kernel) +
            " (dilation " + std::to_string(dilation) + ") does not fit input " +
            std::to_string(in) + " with padding " + std::to_string(pad_before) + "+" +
            std::to_string(pad_after);
    return false;
  }
  if (out != expected) {
    error = std::string("convolution ") + axis + ": output size " + std::to_string(out) +
            " does not match input " + std::to_string(in) + ", kernel " + std::to_string(kernel) +
            ", stride " + std::to_string(stride) + ", dilation " + std::to_string(dilation) +
            ", padding " + std::to_string(pad_before) + "+" + std::to_string(pad_after) +
            " (expected " + std::to_string(expected) + ")";
    return false;
  }
  return true;
}

}  // namespace

bool check_conv2d(const Conv2DShape& s, const float* weights, const Conv2DPostOps& post,
                  std::string& error) {
  if (!positive("batch", s.batch, error) || !positive("in_height", s.in_height, error) ||
      !positive("in_width", s.in_width, error) || !positive("in_channels", s.in_channels, error) ||
      !positive("out_height", s.out_height, error) || !positive("out_width", s.out_width, error) ||
      !positive("out_channels", s.out_channels, error) ||
      !positive("kernel_height", s.kernel_height, error) ||
      !positive("kernel_width", s.kernel_width, error) ||
      !positive("stride_height", s.stride_height, error) ||
      !positive("stride_width", s.stride_width, error) ||
      !positive("dilation_height", s.dilation_height, error) ||
      !positive("dilation_width", s.dilation_width, error) ||
      !non_negative("pad_top", s.pad_top, error) || !non_negative("pad_left", s.pad_left, error) ||
      !non_negative("pad_bottom", s.pad_bottom, error) ||
      !non_negative("pad_right", s.pad_right, error))
    return false;
  if (s.groups != 1 && !(s.groups == s.in_channels && s.groups == s.out_channels)) {
    error = "groups " + std::to_string(s.groups) +
            " is neither 1 nor a depthwise convolution (in_channels " +
            std::to_string(s.in_channels) + ", out_channels " + std::to_string(s.out_channels) +
            ")";
    return false;
  }
  if (!small_enough("convolution input", {s.batch, s.in_height, s.in_width, s.in_channels},
                    error) ||
      !small_enough("convolution output", {s.batch, s.out_height, s.out_width, s.out_channels},
                    error) ||
      !small_enough("convolution weights",
                    {s.out_channels, s.kernel_height, s.kernel_width, s.in_channels / s.groups},
                    error))
    return false;
  if (!check_axis("height", s.in_height, s.out_height, s.kernel_height, s.stride_height,
                  s.dilation_height, s.pad_top, s.pad_bottom, error) ||
      !check_axis("width", s.in_width, s.out_width, s.kernel_width, s.stride_width,
                  s.dilation_width, s.pad_left, s.pad_right, error))
    return false;
  // The kernels may copy the input into a zero-bordered buffer.
  const int64_t padded = (int64_t{s.in_height} + s.pad_top + s.pad_bottom) *
                         (int64_t{s.in_width} + s.pad_left + s.pad_right) * s.in_channels;
  if (padded >= kIndexableElements) {
    error = "convolution padded input has too many elements";
    return false;
  }
  if (weights == nullptr) {
    error = "convolution weights are missing";
    return false;
  }
  return known_activation(post.activation, error);
}

bool check_fully_connected(const FullyConnectedShape& s, const float* weights,
                           Activation activation, std::string& error) {
  if (!positive("batch", s.batch, error) || !positive("in_features", s.in_features, error) ||
      !positive("out_features", s.out_features, error))
    return false;
  if (!small_enough("fully connected input", {s.batch, s.in_features}, error) ||
      !small_enough("fully connected output", {s.batch, s.out_features}, error) ||
      !small_enough("fully connected weights", {s.out_features, s.in_features}, error))
    return false;
  if (weights == nullptr) {
    error = "fully connected weights are missing";
    return false;
  }
  return known_activation(activation, error);
}

}  // namespace runtime::kernels
