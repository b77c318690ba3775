// Samples of one shape laid out in columns, one sample at a time, for
// Client::take_states and Client::take_actions.
#pragma once

#include <cstddef>

#include "norvik/tarn/sample_batch.h"
#include "norvik/tarn/stream_health.h"

namespace norvik::tarn_impl {

// Row i of every column is the i-th sample added. Every sample must have the
// joint groups and DoF of the first: Add throws std::logic_error for one that
// has not (a column would lose its shape) and adds nothing of it.
class StatesColumns {
 public:
  // `rows`: how many samples to make room for.
  explicit StatesColumns(size_t rows) : rows_(rows) {}
  void Add(const tarn::StatesSample& s);
  tarn::StatesBatch Take() { return std::move(batch_); }

 private:
  size_t rows_;
  tarn::StatesBatch batch_;
};

class ActionsColumns {
 public:
  explicit ActionsColumns(size_t rows) : rows_(rows) {}
  void Add(const tarn::ActionsSample& s);
  tarn::ActionsBatch Take() { return std::move(batch_); }

 private:
  size_t rows_;
  tarn::ActionsBatch batch_;
};

}  // namespace norvik::tarn_impl
