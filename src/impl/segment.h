// Cutting one group's joints out of a full-DoF sequence.
#pragma once

#include <cstdint>
#include <vector>

namespace norvik::tarn_impl {

// Elements [start, start + count) widened to double; false when the sequence
// is shorter. The bound is checked without overflow, so a huge start or count
// fails instead of wrapping around.
template <typename T, typename Out>
bool Segment(const std::vector<T>& full, uint64_t start, uint64_t count, std::vector<Out>& out) {
  const uint64_t size = full.size();
  if (start > size || count > size - start) return false;
  out.assign(full.begin() + static_cast<std::ptrdiff_t>(start),
             full.begin() + static_cast<std::ptrdiff_t>(start + count));
  return true;
}

}  // namespace norvik::tarn_impl
