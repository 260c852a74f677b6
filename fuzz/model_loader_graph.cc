#include "fuzz/model_loader_graph.h"

#include "tests/runtime/model_builder.h"

namespace model_loader_fuzz {

namespace {

using namespace testing_models;

// Hands out the recipe's bytes, then zeros.
struct Recipe {
  const uint8_t* data;
  size_t size, at = 0;
  int next(int n) { return at < size ? data[at++] % n : 0; }
};

}  // namespace

// Per operator: its kind, the tensors it reads, and where it writes: a new
// tensor of one of a few NHWC shapes (some differing only in size, so a wrong
// shape means a too-small buffer), a new one-float constant, or any tensor
// that exists already. Convolutions come often, so the chains after them are explored.
std::vector<uint8_t> graph_from_recipe(const uint8_t* data, size_t size) {
  static constexpr Op kCodes[] = {kConv2D, kDepthwiseConv2D, kAdd, kRelu, kRelu6, kPrelu, kNeg, kConv2D};
  const Dims shapes[] = {{1, 4, 4, 2}, {1, 8, 8, 2}, {1, 2, 2, 2}, {1}, {1, 4, 4, 2}};
  Recipe r{data, size};
  ModelBuilder m;
  std::vector<int> tensors = {m.tensor(shapes[0]), m.tensor(shapes[1])};
  const std::vector<int> inputs = tensors;
  const int ops = 1 + r.next(8);
  for (int i = 0; i < ops; ++i) {
    const Op code = kCodes[r.next(8)];
    const auto pick = [&] { return tensors[r.next(static_cast<int>(tensors.size()))]; };
    std::vector<int> in = {pick()};
    Options options;
    if (code == kConv2D || code == kDepthwiseConv2D) {
      in.push_back(code == kConv2D ? m.constant({2, 1, 1, 2}, {0.5f, -1, 2, 0.25f})
                                   : m.constant({1, 1, 1, 2}, {0.5f, -1}));
      in.push_back(r.next(2) ? m.constant({2}, {0.1f, -0.1f}) : -1);
      options = code == kConv2D ? conv_options(fb::Padding_SAME, 1 + r.next(2))
                                : depthwise_options(fb::Padding_SAME, 1 + r.next(2));
    } else if (code == kAdd) {
      in.push_back(pick());
    } else if (code == kPrelu) {
      in.push_back(m.constant({1, 1, 2}, {0.1f, 0.2f}));
    }
    // Both bytes are always read, so that a mutation of one changes only this
    // operator's output and the later reads of it stay in place.
    const int where = r.next(4), shape = r.next(5);
    const int out = where == 0   ? pick()
                    : where == 1 ? m.constant({1}, {0.f})  // the smallest store a write can overrun
                                 : m.tensor(shapes[shape]);
    m.write(code, std::move(in), out, std::move(options));
    tensors.push_back(out);
  }
  m.io(inputs, {tensors.back(), tensors[r.next(static_cast<int>(tensors.size()))]});
  return m.finish();
}

}  // namespace model_loader_fuzz
