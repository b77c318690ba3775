// Samples of one shape laid out in columns, for Client::take_states and
// Client::take_actions.
#pragma once

#include <vector>

#include "norvik/tarn/sample_batch.h"
#include "norvik/tarn/stream_health.h"

namespace norvik::tarn {

// Row i of every column is run[i]. Every sample must have the groups and DoF
// of the first; throws std::logic_error when one does not (a column would
// lose its shape).
StatesBatch StatesColumns(const std::vector<StatesSample>& run);
ActionsBatch ActionsColumns(const std::vector<ActionsSample>& run);

}  // namespace norvik::tarn
