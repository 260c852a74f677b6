// Arena planning: greedy by size.
//
// Tensors are placed largest first. Each is put at the lowest offset where it
// overlaps in memory no tensor already placed whose lifetime overlaps its own
// (lifetimes are closed step intervals, so a step's outputs never share
// memory with its inputs). This is the usual heuristic for inference arenas:
// big tensors fall into place early and small ones fill the gaps.
//
// Not guaranteed: the result is not the smallest possible arena (that problem
// is NP-hard); it is only never larger than the sum of all tensors, and two
// tensors that are live at the same step never overlap. It knows nothing of
// aliasing, so an operator that could run in place still gets its own output.
#include "runtime/compiler/planner.h"

#include <algorithm>
#include <numeric>

namespace runtime {

namespace {
size_t align_up(size_t n) { return (n + kArenaAlignment - 1) / kArenaAlignment * kArenaAlignment; }
}  // namespace

ArenaPlan plan_arena(const std::vector<Lifetime>& lifetimes) {
  const size_t n = lifetimes.size();
  ArenaPlan plan;
  plan.offsets.assign(n, 0);
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (lifetimes[a].bytes != lifetimes[b].bytes) return lifetimes[a].bytes > lifetimes[b].bytes;
    return lifetimes[a].first < lifetimes[b].first;
  });
  std::vector<size_t> placed;
  std::vector<std::pair<size_t, size_t>> busy;  // [begin, end) of conflicting tensors
  for (size_t idx : order) {
    const Lifetime& t = lifetimes[idx];
    const size_t size = align_up(std::max<size_t>(t.bytes, 1));
    busy.clear();
    for (size_t p : placed) {
      const Lifetime& o = lifetimes[p];
      if (o.first <= t.last && t.first <= o.last)
        busy.emplace_back(plan.offsets[p], plan.offsets[p] + align_up(std::max<size_t>(o.bytes, 1)));
    }
    std::sort(busy.begin(), busy.end());
    size_t offset = 0;
    for (const auto& [begin, end] : busy) {
      if (begin >= offset + size) break;
      offset = std::max(offset, end);
    }
    plan.offsets[idx] = offset;
    plan.bytes = std::max(plan.bytes, offset + size);
    placed.push_back(idx);
  }
  return plan;
}

}  // namespace runtime
