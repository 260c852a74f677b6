#include <algorithm>
#include <vector>

#include "runtime/kernels/conv2d.h"
#include "runtime/kernels/shape_check.h"

namespace runtime {
namespace {

class PlainFullyConnected final : public FullyConnectedKernel {
 public:
  PlainFullyConnected(const FullyConnectedShape& s, const float* weights, const float* bias,
                      Activation activation)
      : s_(s),
        activation_(activation),
        weights_(weights, weights + size_t(s.out_features) * s.in_features),
        bias_(bias ? std::vector<float>(bias, bias + s.out_features)
                   : std::vector<float>(s.out_features, 0.0f)) {}

  void run(const float* input, float* output) override {
    for (int b = 0; b < s_.batch; ++b)
      for (int o = 0; o < s_.out_features; ++o) {
        const float* in = input + size_t(b) * s_.in_features;
        const float* w = weights_.data() + size_t(o) * s_.in_features;
        float acc = bias_[o];
        for (int i = 0; i < s_.in_features; ++i) acc += in[i] * w[i];
        if (activation_ != Activation::kNone) acc = std::max(acc, 0.0f);
        if (activation_ == Activation::kRelu6) acc = std::min(acc, 6.0f);
        output[size_t(b) * s_.out_features + o] = acc;
      }
  }

 private:
  FullyConnectedShape s_;
  Activation activation_;
  std::vector<float> weights_, bias_;
};

}  // namespace

std::unique_ptr<FullyConnectedKernel> FullyConnectedKernel::create(const FullyConnectedShape& shape,
                                                                   const float* weights,
                                                                   const float* bias,
                                                                   Activation activation,
                                                                   std::string& error) {
  if (!kernels::check_fully_connected(shape, weights, activation, error)) return nullptr;
  return std::make_unique<PlainFullyConnected>(shape, weights, bias, activation);
}

}  // namespace runtime
