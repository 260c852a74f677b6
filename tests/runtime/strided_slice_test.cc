#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

struct SliceCase {
  Dims shape;
  std::vector<int32_t> begin, end, strides;
  int begin_mask = 0, end_mask = 0, shrink_mask = 0;
  Dims out_shape;
  // Expected source index per output dimension: begin + i * stride after masks.
  std::vector<int> first, step;
};

void check_slice(const SliceCase& c) {
  const auto x = random_floats(count(c.shape), 9);
  std::vector<float> expected;
  Dims full;  // out_shape with shrunk dimensions put back as 1
  for (size_t d = 0, o = 0; d < c.shape.size(); ++d) full.push_back((c.shrink_mask >> d) & 1 ? 1 : c.out_shape[o++]);
  for_each_index(full, [&](const std::vector<int>& i) {
    size_t offset = 0;
    for (size_t d = 0; d < c.shape.size(); ++d) offset = offset * c.shape[d] + c.first[d] + i[d] * c.step[d];
    expected.push_back(x[offset]);
  });
  ModelBuilder m;
  const int32_t r = static_cast<int32_t>(c.shape.size());
  const int in = m.tensor(c.shape), out = m.tensor(c.out_shape);
  m.op(kStridedSlice, {in, m.constant_ints({r}, c.begin), m.constant_ints({r}, c.end), m.constant_ints({r}, c.strides)},
       {out}, strided_slice_options(c.begin_mask, c.end_mask, c.shrink_mask));
  m.inputs({in});
  m.outputs({out});
  expect_close(run_model(m, {x}), expected);
}

TEST(StridedSliceOp, MasksAsTheBlendshapeModelUsesThem) {
  // [1,1,9,4] -> first 2 rows (begin_mask 15, end_mask 11), then row 0 of those.
  check_slice({{1, 1, 9, 4}, {0, 0, 0, 0}, {0, 0, 2, 0}, {1, 1, 1, 1}, 15, 11, 0, {1, 1, 2, 4}, {0, 0, 0, 0}, {1, 1, 1, 1}});
  // [1, 52] -> [52] with the first dimension shrunk.
  check_slice({{1, 52}, {0, 0}, {1, 52}, {1, 1}, 2, 2, 1, {52}, {0, 0}, {1, 1}});
}

TEST(StridedSliceOp, NegativeIndicesAndStrides) {
  // Rows -4..-1 every 2nd; columns reversed.
  check_slice({{7, 5}, {-4, 0}, {7, 0}, {2, -1}, 2, 2, 0, {2, 5}, {3, 4}, {2, -1}});
  // Begin 0 going backwards takes exactly one element.
  check_slice({{7, 5}, {0, 0}, {7, 0}, {3, -1}, 0, 2, 0, {3, 1}, {0, 0}, {3, -1}});
  // Out-of-range ends are clamped.
  check_slice({{6}, {1}, {100}, {3}, 0, 0, 0, {2}, {1}, {3}});
}

TEST(StridedSliceOp, EllipsisAndZeroStrideFailToCompile) {
  for (auto [strides, ellipsis] : {std::pair{std::vector<int32_t>{1, 1}, 1}, std::pair{std::vector<int32_t>{1, 0}, 0}}) {
    ModelBuilder m;
    const int in = m.tensor({2, 3}), out = m.tensor({2, 3});
    m.op(kStridedSlice, {in, m.constant_ints({2}, {0, 0}), m.constant_ints({2}, {2, 3}), m.constant_ints({2}, strides)},
         {out}, strided_slice_options(0, 0, 0, ellipsis));
    m.inputs({in});
    m.outputs({out});
    EXPECT_TRUE(compile_fails(m));
  }
}

}  // namespace
}  // namespace testing_models
