// Typed requests to the robot: one operation per request code, each
// returning a general status (100000 success, 300000 failure) and logging why
// it failed. Operations may run on several threads; they take turns on the
// request client. Init must not run while requests are in flight.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "middleware/nodes.h"
#include "middleware/rpc_client.h"
#include "msgs/rpc_messages.h"
#include "norvik/tarn/joint_group.h"
#include "norvik/tarn/records.h"
#include "vocab/ozr_states.h"

namespace norvik::tarn_impl {

// Request codes; the reply echoes them.
enum RequestCode : uint16_t {
  kProbe = 0,
  kTarnVersion = 1,
  kPrimitiveStates = 3,
  kPlanInfo = 4,
  kManipulability = 9,
  kStartIdAndDoF = 10,
};

inline constexpr double kProbeTimeoutS = 1.0;
inline constexpr double kRequestTimeoutS = 2.0;

// Fills `info` from the robot's eight plan strings; members before a failed
// conversion keep their new values. 300000 (and an error logged) on a wrong
// count or an unconvertible number.
ozr::OzrState ConvertPlanInfo(const std::vector<std::string>& list, tarn::PlanInfo& info);

class DataRpc {
 public:
  using Client = zenoh_mdw::RpcClient<zenoh_msgs::tarn_msg::RPCRequest, zenoh_msgs::tarn_msg::RPCReply>;

  virtual ~DataRpc() = default;

  // Creates the request client on "norvik/robot/" + serial + "/rpc"; sends nothing.
  ozr::OzrState Init(const zenoh_mdw::ReliableNode& node, const std::string& serial);

  // True only for a reply echoing code 0 with success false.
  bool IsConnected();

  ozr::OzrState RequestStringList(uint16_t code, std::vector<std::string>& out);
  ozr::OzrState RequestFloatList(uint16_t code, std::vector<double>& out);
  ozr::OzrState RequestTARNVersion(std::string& version);
  ozr::OzrState RequestPtStates(std::vector<std::string>& out);
  ozr::OzrState RequestPlanInfo(tarn::PlanInfo& info);
  ozr::OzrState RequestStartIdAndDoF(const std::vector<tarn::JointGroup>& groups,
                                     std::map<tarn::JointGroup, uint32_t>& start_ids,
                                     std::map<tarn::JointGroup, uint64_t>& dofs);
  ozr::OzrState RequestManipulability(std::map<tarn::JointGroup, std::array<double, 6>>& out);

 private:
  // Sends `code` and applies the common acceptance rules; true when `reply` may be used.
  bool Call(uint16_t code, const std::vector<uint16_t>& groups, zenoh_msgs::tarn_msg::RPCReply& reply);

  std::shared_ptr<Client> rpc_client_;
};

}  // namespace norvik::tarn_impl
