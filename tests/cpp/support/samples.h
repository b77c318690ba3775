// Stream samples with values a test can check: every float of a sample is
// derived from one number, so a sample mixed from two shows at once.
#pragma once

#include <cstddef>
#include <vector>

#include "msgs/stream_messages.h"

namespace norvik::test {

// `groups` listed with one Cartesian entry each, `dof` joints, every joint
// value and every Cartesian element equal to `value` (quaternions stay
// (1, 0, 0, 0)), stamped (stamp, stamp).
zenoh_msgs::tarn_msg::AllBasicStreamData UniformBasic(const std::vector<uint16_t>& groups, size_t dof, float value,
                                                      int32_t stamp);
zenoh_msgs::tarn_msg::AllExtraStreamData UniformExtra(const std::vector<uint16_t>& groups, size_t dof, float value);

}  // namespace norvik::test
