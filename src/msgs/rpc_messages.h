// Messages of the request/reply path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norvik::zenoh_msgs::tarn_msg {

struct RPCRequest {
  uint16_t request_id = 0;
  std::vector<uint16_t> joint_groups;
};

struct RPCReply {
  uint16_t request_id = 0;
  bool success = false;
  std::vector<uint16_t> joint_groups;
  std::vector<int32_t> int_container;
  std::vector<std::string> string_container;
  std::vector<float> float_container;
  std::vector<std::vector<float>> float2d_container;
};

}  // namespace norvik::zenoh_msgs::tarn_msg
