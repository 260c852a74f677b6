// Reductions and data-movement operators against plain index loops,
// negative axes included, and the options each must refuse.
#include <set>

#include "tests/runtime/model_builder.h"

namespace testing_models {
namespace {

// A model with one input of `shape` and one operator over it and `extra`
// constant inputs.
ModelBuilder one_op(int32_t code, const Dims& shape, const Dims& out, Options o = {},
                    const std::function<std::vector<int>(ModelBuilder&)>& extra = {}) {
  ModelBuilder m;
  const int in = m.tensor(shape);
  std::vector<int> ins = {in};
  if (extra)
    for (int t : extra(m)) ins.push_back(t);
  m.io({in}, {m.op(code, ins, out, std::move(o))});
  return m;
}

auto ints(const Dims& shape, const std::vector<int32_t>& v) {
  return [=](ModelBuilder& m) { return std::vector{m.ints(shape, v)}; };
}

size_t row_major(const Dims& shape, const std::vector<int>& index) {
  size_t o = 0;
  for (size_t d = 0; d < shape.size(); ++d) o = o * shape[d] + index[d];
  return o;
}

TEST(ShapeOps, MeanAndSumOverAxes) {
  struct Case {
    int32_t code;
    Dims shape;
    std::vector<int32_t> axes;
    bool keep, scalar_axis;
  };
  for (const Case& c : {Case{kMean, {1, 7, 7, 11}, {1, 2}, false, false},  // global average pool
                        Case{kMean, {1, 1, 9, 13}, {3}, true, false},      // layer norm statistics
                        Case{kMean, {1, 15, 2}, {-2}, true, true}, Case{kMean, {3, 4, 5}, {0, -3}, false, false},
                        Case{kMean, {3, 4, 5}, {0, 1, 2}, true, false}, Case{kSum, {1, 15, 2}, {-1}, true, false},
                        Case{kSum, {2, 5, 3}, {1}, false, false}}) {
    SCOPED_TRACE(testing::Message() << "code " << c.code << " axis " << c.axes[0] << " keep " << c.keep);
    std::set<int> reduced;
    for (int a : c.axes) reduced.insert(a < 0 ? a + static_cast<int>(c.shape.size()) : a);
    Dims out, kept;
    size_t per_output = 1;
    for (int d = 0; d < static_cast<int>(c.shape.size()); ++d) {
      if (!reduced.count(d)) kept.push_back(c.shape[d]);
      if (!reduced.count(d) || c.keep) out.push_back(reduced.count(d) ? 1 : c.shape[d]);
      if (reduced.count(d)) per_output *= c.shape[d];
    }
    const Floats x = random_floats(count(c.shape), 77);
    std::vector<double> sums(count(kept), 0.0);
    size_t i = 0;
    for_each_index(c.shape, [&](const std::vector<int>& index) {
      size_t o = 0;
      for (int d = 0; d < static_cast<int>(c.shape.size()); ++d)
        if (!reduced.count(d)) o = o * c.shape[d] + index[d];
      sums[o] += x[i++];
    });
    Floats expected;
    for (double s : sums) expected.push_back(static_cast<float>(c.code == kMean ? s / per_output : s));
    const Dims axes_shape = c.scalar_axis ? Dims{} : Dims{static_cast<int32_t>(c.axes.size())};
    expect_close(run_model(one_op(c.code, c.shape, out, reducer_options(c.keep), ints(axes_shape, c.axes)), {x}),
                 expected);
  }
  EXPECT_TRUE(compile_fails(one_op(kMean, {2, 3}, {2}, reducer_options(false), ints({1}, {2})))) << "axis 2 of 2";
}

TEST(ShapeOps, ReshapeAndTranspose) {
  const Floats x = random_floats(120, 3);
  expect_close(run_model(one_op(kReshape, {1, 2, 3, 4}, {1, 6, 4}, {}, ints({3}, {1, -1, 4})), {Floats(x.begin(), x.begin() + 24)}),
               Floats(x.begin(), x.begin() + 24));
  const Options from_options = options(fb::BuiltinOptions_ReshapeOptions, [](auto& b) {
    return fb::CreateReshapeOptions(b, b.CreateVector(std::vector<int32_t>{1, -1, 3}));
  });
  expect_close(run_model(one_op(kReshape, {1, 2, 2, 3}, {1, 4, 3}, from_options), {Floats(x.begin(), x.begin() + 12)}),
               Floats(x.begin(), x.begin() + 12));
  EXPECT_TRUE(compile_fails(one_op(kReshape, {2, 3}, {7}, {}, ints({1}, {7})))) << "element count changes";

  const Dims shape = {2, 3, 4, 5};
  for (const std::vector<int32_t>& perm : {std::vector<int32_t>{0, 1, 3, 2}, {3, 2, 1, 0}, {1, 0, 2, 3}, {0, -1, 1, 2}}) {
    SCOPED_TRACE(testing::Message() << perm[0] << perm[1] << perm[2] << perm[3]);
    Dims out;
    for (int32_t p : perm) out.push_back(shape[(p + 4) % 4]);
    Floats expected;
    for_each_index(out, [&](const std::vector<int>& i) {
      std::vector<int> src(4);
      for (int k = 0; k < 4; ++k) src[(perm[k] + 4) % 4] = i[k];
      expected.push_back(x[row_major(shape, src)]);
    });
    expect_close(run_model(one_op(kTranspose, shape, out, {}, ints({4}, perm)), {x}), expected);
  }
  EXPECT_TRUE(compile_fails(one_op(kTranspose, {2, 3}, {3, 2}, {}, ints({2}, {1, 1})))) << "not a permutation";
}

TEST(ShapeOps, ConcatenationOnEveryAxis) {
  const Dims as = {2, 3, 4};
  for (int axis : {0, 1, 2, -1, -2}) {
    SCOPED_TRACE(axis);
    const int ax = (axis + 3) % 3;
    Dims bs = as, out = as;
    bs[ax] = 5;
    out[ax] += 5;
    const Floats a = random_floats(count(as), 1), b = random_floats(count(bs), 2);
    Floats expected;
    for_each_index(out, [&](std::vector<int> i) {
      const bool first = i[ax] < as[ax];
      if (!first) i[ax] -= as[ax];
      expected.push_back(first ? a[row_major(as, i)] : b[row_major(bs, i)]);
    });
    ModelBuilder m;
    const int ta = m.tensor(as), tb = m.tensor(bs);
    m.io({ta, tb}, {m.op(kConcatenation, {ta, tb}, out, concat_options(axis))});
    expect_close(run_model(m, {a, b}), expected);
  }
  // A constant token before the activations, as the blendshape model prepends one.
  const Floats token = {9, 8, 7, 6}, x = random_floats(12, 3);
  Floats expected = token;
  expected.insert(expected.end(), x.begin(), x.end());
  ModelBuilder m;
  const int in = m.tensor({1, 1, 3, 4});
  m.io({in}, {m.op(kConcatenation, {m.constant({1, 1, 1, 4}, token), in}, {1, 1, 4, 4}, concat_options(-2))});
  expect_close(run_model(m, {x}), expected);
  EXPECT_TRUE(compile_fails(one_op(kConcatenation, {2, 3}, {2, 6}, concat_options(1),
                                   [](ModelBuilder& m) { return std::vector{m.constant({3, 3}, Floats(9))}; })));
}

TEST(ShapeOps, PadEveryDimension) {
  struct Case {
    Dims shape, out;
    std::vector<int32_t> pads;
  };
  for (const Case& c : {Case{{1, 4, 4, 3}, {1, 4, 4, 8}, {0, 0, 0, 0, 0, 0, 0, 5}},  // channels, as the detectors do
                        Case{{2, 3, 2}, {3, 5, 6}, {1, 0, 0, 2, 3, 1}}}) {
    const Floats x = random_floats(count(c.shape), 2);
    Floats expected;
    for_each_index(c.out, [&](std::vector<int> i) {
      bool inside = true;
      for (size_t d = 0; d < i.size(); ++d) {
        i[d] -= c.pads[2 * d];
        inside = inside && i[d] >= 0 && i[d] < c.shape[d];
      }
      expected.push_back(inside ? x[row_major(c.shape, i)] : 0.f);
    });
    const Dims pad_shape = {static_cast<int32_t>(c.shape.size()), 2};
    expect_close(run_model(one_op(kPad, c.shape, c.out, {}, ints(pad_shape, c.pads)), {x}), expected);
  }
  for (const auto& p : {std::vector<int32_t>{0, -1, 0, 0}, std::vector<int32_t>{0, 1, 0}})
    EXPECT_TRUE(compile_fails(one_op(kPad, {2, 2}, {2, 3}, {}, ints({static_cast<int32_t>(p.size())}, p))));
}

TEST(ShapeOps, StridedSliceMasksNegativeIndicesAndStrides) {
  struct Case {
    Dims shape;
    std::vector<int32_t> begin, end, strides;
    int begin_mask, end_mask, shrink_mask;
    Dims out;
    std::vector<int> first, step;  // source index = first + i * step per dimension
  };
  for (const Case& c : {
           Case{{1, 1, 9, 4}, {0, 0, 0, 0}, {0, 0, 2, 0}, {1, 1, 1, 1}, 15, 11, 0, {1, 1, 2, 4}, {0, 0, 0, 0}, {1, 1, 1, 1}},
           Case{{1, 52}, {0, 0}, {1, 52}, {1, 1}, 2, 2, 1, {52}, {0, 0}, {1, 1}},  // first dimension shrunk
           Case{{7, 5}, {-4, 0}, {7, 0}, {2, -1}, 2, 2, 0, {2, 5}, {3, 4}, {2, -1}},  // reversed columns
           Case{{7, 5}, {0, 0}, {7, 0}, {3, -1}, 0, 2, 0, {3, 1}, {0, 0}, {3, -1}},   // begin 0 going backwards
           Case{{6}, {1}, {100}, {3}, 0, 0, 0, {2}, {1}, {3}}}) {                     // end clamped
    const Floats x = random_floats(count(c.shape), 9);
    Dims full;  // the output with shrunk dimensions put back as 1
    for (size_t d = 0, o = 0; d < c.shape.size(); ++d) full.push_back((c.shrink_mask >> d) & 1 ? 1 : c.out[o++]);
    Floats expected;
    for_each_index(full, [&](std::vector<int> i) {
      for (size_t d = 0; d < i.size(); ++d) i[d] = c.first[d] + i[d] * c.step[d];
      expected.push_back(x[row_major(c.shape, i)]);
    });
    const Dims r = {static_cast<int32_t>(c.shape.size())};
    const auto bounds = [&](ModelBuilder& m) {
      return std::vector{m.ints(r, c.begin), m.ints(r, c.end), m.ints(r, c.strides)};
    };
    expect_close(
        run_model(one_op(kStridedSlice, c.shape, c.out, slice_options(c.begin_mask, c.end_mask, c.shrink_mask), bounds),
                  {x}),
        expected);
  }
  for (auto [stride, ellipsis] : {std::pair{1, 1}, std::pair{0, 0}}) {
    const auto bounds = [stride](ModelBuilder& m) {
      return std::vector{m.ints({2}, {0, 0}), m.ints({2}, {2, 3}), m.ints({2}, {1, stride})};
    };
    EXPECT_TRUE(compile_fails(one_op(kStridedSlice, {2, 3}, {2, 3}, slice_options(0, 0, 0, ellipsis), bounds)))
        << "ellipsis " << ellipsis << " stride " << stride;
  }
}

}  // namespace
}  // namespace testing_models
