// Reductions and data-movement operators against plain index loops,
// negative axes included, and the options each must refuse.
#include "tests/runtime/model_builder.h"

namespace testing_models {
namespace {

using Ints = std::vector<int32_t>;

// One input of `shape` through one operator, with int32 constants after it.
ModelBuilder one_op(Op code, const Dims& shape, const Dims& out, Options o,
                    const std::vector<std::pair<Dims, Ints>>& constants) {
  ModelBuilder m;
  std::vector<int> ins = {m.tensor(shape)};
  for (const auto& [s, v] : constants) ins.push_back(m.ints(s, v));
  m.io({ins[0]}, {m.op(code, ins, out, std::move(o))});
  return m;
}

// Per output index, the element of x at the row-major index in `shape` that
// `source` turns it into, or 0 when `source` returns false.
Floats gather(const Floats& x, const Dims& shape, const Dims& out,
              const std::function<bool(std::vector<int>&)>& source) {
  Floats expected;
  for_each_index(out, [&](std::vector<int> i) {
    size_t o = 0;
    const bool inside = source(i);
    for (size_t d = 0; d < shape.size(); ++d) o = o * shape[d] + i[d];
    expected.push_back(inside ? x[o] : 0.f);
  });
  return expected;
}

TEST(ShapeOps, MeanAndSumOverAxes) {
  struct Case {
    Op code;
    Dims shape;
    Ints axes;
    bool keep, scalar_axis;
  };
  for (const Case& c : {Case{kMean, {1, 7, 7, 11}, {1, 2}, false, false},  // global average pool
                        Case{kMean, {1, 1, 9, 13}, {3}, true, false},      // layer norm statistics
                        Case{kMean, {1, 15, 2}, {-2}, true, true}, Case{kMean, {3, 4, 5}, {0, -3}, false, false},
                        Case{kMean, {3, 4, 5}, {0, 1, 2}, true, false}, Case{kSum, {1, 15, 2}, {-1}, true, false},
                        Case{kSum, {2, 5, 3}, {1}, false, false}}) {
    SCOPED_TRACE(testing::Message() << "code " << c.code << " axis " << c.axes[0] << " keep " << c.keep);
    Dims kept = c.shape, out;  // kept: reduced dimensions as 1
    std::vector<bool> reduced(c.shape.size());
    for (int a : c.axes) reduced[(a + c.shape.size()) % c.shape.size()] = true;
    for (size_t d = 0; d < kept.size(); ++d)
      if (!reduced[d] || (kept[d] = 1, c.keep)) out.push_back(kept[d]);
    const Floats x = random_floats(count(c.shape), 77);
    std::vector<double> sums(count(kept), 0.0);
    size_t i = 0;
    for_each_index(c.shape, [&](const std::vector<int>& index) { sums[offset_of(kept, index)] += x[i++]; });
    Floats expected;
    for (double s : sums) expected.push_back(static_cast<float>(c.code == kMean ? s * sums.size() / x.size() : s));
    const Dims axes_shape = c.scalar_axis ? Dims{} : Dims{static_cast<int32_t>(c.axes.size())};
    expect_close(run_model(one_op(c.code, c.shape, out, OPTIONS(ReducerOptions, c.keep), {{axes_shape, c.axes}}), {x}),
                 expected);
  }
  EXPECT_TRUE(compile_fails(one_op(kMean, {2, 3}, {2}, OPTIONS(ReducerOptions, false), {{{1}, {2}}}))) << "axis 2 of 2";
}

TEST(ShapeOps, ReshapeAndTranspose) {
  const Floats x = random_floats(120, 3), x24(x.begin(), x.begin() + 24);
  expect_close(run_model(one_op(kReshape, {1, 2, 3, 4}, {1, 6, 4}, {}, {{{3}, {1, -1, 4}}}), {x24}), x24);
  const Options shape_option = OPTIONS(ReshapeOptions, b.CreateVector(Ints{1, -1, 4}));
  expect_close(run_model(one_op(kReshape, {1, 2, 3, 4}, {1, 6, 4}, shape_option, {}), {x24}), x24);
  EXPECT_TRUE(compile_fails(one_op(kReshape, {2, 3}, {7}, {}, {{{1}, {7}}}))) << "element count changes";

  const Dims shape = {2, 3, 4, 5};
  for (const Ints& perm : {Ints{0, 1, 3, 2}, Ints{3, 2, 1, 0}, Ints{1, 0, 2, 3}, Ints{0, -1, 1, 2}}) {
    SCOPED_TRACE(testing::Message() << perm[0] << perm[1] << perm[2] << perm[3]);
    Dims out;
    for (int32_t p : perm) out.push_back(shape[(p + 4) % 4]);
    const Floats expected = gather(x, shape, out, [&](std::vector<int>& i) {
      std::vector<int> src(4);
      for (int k = 0; k < 4; ++k) src[(perm[k] + 4) % 4] = i[k];
      return i = src, true;
    });
    expect_close(run_model(one_op(kTranspose, shape, out, {}, {{{4}, perm}}), {x}), expected);
  }
  EXPECT_TRUE(compile_fails(one_op(kTranspose, {2, 3}, {3, 2}, {}, {{{2}, {1, 1}}}))) << "not a permutation";
}

TEST(ShapeOps, ConcatenationOnEveryAxis) {
  const Dims as = {2, 3, 4};
  for (int axis : {0, 1, 2, -1, -2}) {
    SCOPED_TRACE(axis);
    const int ax = (axis + 3) % 3;
    Dims bs = as, out = as;
    bs[ax] = 5, out[ax] += 5;
    const Floats a = random_floats(count(as), 1), b = random_floats(count(bs), 2);
    Floats ab = a;
    ab.insert(ab.end(), b.begin(), b.end());
    const Floats expected = gather(ab, {static_cast<int32_t>(ab.size())}, out, [&](std::vector<int>& i) {
      const bool first = i[ax] < as[ax];
      if (!first) i[ax] -= as[ax];
      const Dims& s = first ? as : bs;
      i = {static_cast<int>((first ? 0 : a.size()) + (size_t(i[0]) * s[1] + i[1]) * s[2] + i[2])};
      return true;
    });
    ModelBuilder m;
    const int ta = m.tensor(as), tb = m.tensor(bs);
    m.io({ta, tb}, {m.op(kConcatenation, {ta, tb}, out, OPTIONS(ConcatenationOptions, axis))});
    expect_close(run_model(m, {a, b}), expected);
  }
  // A constant token before the activations, as the blendshape model prepends one.
  const Floats x = random_floats(12, 3);
  Floats expected = {9, 8, 7, 6};
  ModelBuilder m;
  const int in = m.tensor({1, 1, 3, 4});
  m.io({in}, {m.op(kConcatenation, {m.constant({1, 1, 1, 4}, expected), in}, {1, 1, 4, 4},
                   OPTIONS(ConcatenationOptions, -2))});
  expected.insert(expected.end(), x.begin(), x.end());
  expect_close(run_model(m, {x}), expected);
  ModelBuilder bad;
  const int t = bad.tensor({2, 3});
  bad.io({t}, {bad.op(kConcatenation, {t, bad.constant({3, 3}, Floats(9))}, {2, 6}, OPTIONS(ConcatenationOptions, 1))});
  EXPECT_TRUE(compile_fails(bad)) << "other dimensions differ";
}

TEST(ShapeOps, PadEveryDimension) {
  for (const auto& [shape, out, pads] :
       {std::tuple<Dims, Dims, Ints>{{1, 4, 4, 3}, {1, 4, 4, 8}, {0, 0, 0, 0, 0, 0, 0, 5}},
        std::tuple<Dims, Dims, Ints>{{1, 2, 3, 4}, {1, 2, 3, 9}, {0, 0, 0, 0, 0, 0, 2, 3}},
        std::tuple<Dims, Dims, Ints>{{2, 3, 2}, {3, 5, 6}, {1, 0, 0, 2, 3, 1}}}) {
    const Floats x = random_floats(count(shape), 2);
    const Floats expected = gather(x, shape, out, [&](std::vector<int>& i) {
      bool inside = true;
      for (size_t d = 0; d < i.size(); ++d) inside = inside && (i[d] -= pads[2 * d]) >= 0 && i[d] < shape[d];
      return inside;
    });
    expect_close(run_model(one_op(kPad, shape, out, {}, {{{static_cast<int32_t>(shape.size()), 2}, pads}}), {x}),
                 expected);
  }
  for (const Ints& p : {Ints{0, -1, 0, 0}, Ints{0, 1, 0}})
    EXPECT_TRUE(compile_fails(one_op(kPad, {2, 2}, {2, 3}, {}, {{{static_cast<int32_t>(p.size())}, p}})));
}

TEST(ShapeOps, StridedSliceMasksNegativeIndicesAndStrides) {
  struct Case {
    Dims shape;
    Ints begin, end, strides;
    int begin_mask, end_mask, shrink_mask;
    Dims out;
    std::vector<int> first, step;  // source index = first + i * step per dimension
  };
  const Case cases[] = {
      {{1, 1, 9, 4}, {0, 0, 0, 0}, {0, 0, 2, 0}, {1, 1, 1, 1}, 15, 11, 0, {1, 1, 2, 4}, {0, 0, 0, 0}, {1, 1, 1, 1}},
      {{1, 52}, {0, 0}, {1, 52}, {1, 1}, 2, 2, 1, {52}, {0, 0}, {1, 1}},     // first dimension shrunk
      {{7, 5}, {-4, 0}, {7, 0}, {2, -1}, 2, 2, 0, {2, 5}, {3, 4}, {2, -1}},  // reversed columns
      {{7, 5}, {0, 0}, {7, 0}, {3, -1}, 0, 2, 0, {3, 1}, {0, 0}, {3, -1}},   // begin 0 going backwards
      {{6}, {1}, {100}, {3}, 0, 0, 0, {2}, {1}, {3}}};                       // end clamped
  for (const Case& c : cases) {
    const Floats x = random_floats(count(c.shape), 9);
    Dims full;  // the output with shrunk dimensions put back as 1
    for (size_t d = 0, o = 0; d < c.shape.size(); ++d) full.push_back((c.shrink_mask >> d) & 1 ? 1 : c.out[o++]);
    const Floats expected = gather(x, c.shape, full, [&](std::vector<int>& i) {
      for (size_t d = 0; d < i.size(); ++d) i[d] = c.first[d] + i[d] * c.step[d];
      return true;
    });
    const Dims r = {static_cast<int32_t>(c.shape.size())};
    const auto o = OPTIONS(StridedSliceOptions, c.begin_mask, c.end_mask, 0, 0, c.shrink_mask);
    expect_close(run_model(one_op(kStridedSlice, c.shape, c.out, o, {{r, c.begin}, {r, c.end}, {r, c.strides}}), {x}),
                 expected);
  }
  for (auto [stride, ellipsis] : {std::pair{1, 1}, std::pair{0, 0}})
    EXPECT_TRUE(compile_fails(one_op(kStridedSlice, {2, 3}, {2, 3}, OPTIONS(StridedSliceOptions, 0, 0, ellipsis, 0, 0),
                                     {{{2}, {0, 0}}, {{2}, {2, 3}}, {{2}, {1, stride}}})))
        << "ellipsis " << ellipsis << " stride " << stride;
}

}  // namespace
}  // namespace testing_models
