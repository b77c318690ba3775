#include "impl/data_rpc.h"

#include <spdlog/spdlog.h>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace norvik::tarn_impl {

using zenoh_msgs::tarn_msg::RPCReply;
using zenoh_msgs::tarn_msg::RPCRequest;

namespace {

ozr::OzrState Ok() { return ozr::MakeOzrState(ozr::OZR_GENERAL_OK); }
ozr::OzrState Fault() { return ozr::MakeOzrState(ozr::OZR_GENERAL_FAULT); }

// A DoF must be a finite, non-negative float whose truncation fits 64 bits.
bool ConvertibleDoF(float dof) {
  return std::isfinite(dof) && dof >= 0.0f && static_cast<double>(dof) < 18446744073709551616.0;
}

}  // namespace

ozr::OzrState DataRpc::Init(const zenoh_mdw::ReliableNode& node, const std::string& serial) {
  const std::string key = "norvik/robot/" + serial + "/rpc";
  spdlog::debug("[norvik::tarn::Client] Creating RPC client on topic: {}", key);
  rpc_client_ = std::make_shared<Client>(node.session, key);
  return Ok();
}

bool DataRpc::IsConnected() {
  if (!rpc_client_) return false;
  RPCReply reply;
  if (!rpc_client_->SendRequestAndGetReply(RPCRequest{kProbe, {}}, reply, kProbeTimeoutS)) return false;
  // The server answers the probe with success false.
  if (reply.success || reply.request_id != kProbe) {
    spdlog::debug("Remote procedure failed");
    return false;
  }
  return true;
}

bool DataRpc::Call(uint16_t code, const std::vector<uint16_t>& groups, RPCReply& reply) {
  if (!rpc_client_ || !rpc_client_->SendRequestAndGetReply(RPCRequest{code, groups}, reply, kRequestTimeoutS)) {
    spdlog::debug("Failed to send remote call or server reply timeout");
    return false;
  }
  if (!reply.success || reply.request_id != code) {
    spdlog::debug("Remote procedure failed");
    return false;
  }
  return true;
}

ozr::OzrState DataRpc::RequestStringList(uint16_t code, std::vector<std::string>& out) {
  RPCReply reply;
  if (!Call(code, {}, reply)) return Fault();
  spdlog::debug("[norvik::tarn::DataRpc] RPC reply request_id={} success={} string_container_size={}",
                reply.request_id, reply.success, reply.string_container.size());
  for (size_t i = 0; i < reply.string_container.size(); ++i) {
    spdlog::debug("[norvik::tarn::DataRpc] string_container[{}] = {}", i, reply.string_container[i]);
  }
  out = std::move(reply.string_container);
  return Ok();
}

ozr::OzrState DataRpc::RequestFloatList(uint16_t code, std::vector<double>& out) {
  RPCReply reply;
  if (!Call(code, {}, reply)) return Fault();
  out.resize(reply.float_container.size());
  for (size_t i = 0; i < reply.float_container.size(); ++i) out[i] = reply.float_container[i];
  return Ok();
}

ozr::OzrState DataRpc::RequestTARNVersion(std::string& version) {
  std::vector<std::string> list;
  if (RequestStringList(kTarnVersion, list).code() != ozr::OZR_GENERAL_OK || list.empty()) return Fault();
  version = list.front();
  spdlog::debug("Received TARN server version = {}", version);
  return Ok();
}

ozr::OzrState DataRpc::RequestPtStates(std::vector<std::string>& out) { return RequestStringList(kPrimitiveStates, out); }

ozr::OzrState DataRpc::RequestPlanInfo(tarn::PlanInfo& info) {
  std::vector<std::string> list;
  if (RequestStringList(kPlanInfo, list).code() != ozr::OZR_GENERAL_OK) return Fault();
  return ConvertPlanInfo(list, info);
}

ozr::OzrState ConvertPlanInfo(const std::vector<std::string>& list, tarn::PlanInfo& info) {
  if (list.size() != 8) {
    spdlog::error("[norvik::tarn::Client] Size of plan info container is incorrect");
    return Fault();
  }
  info.pt_name = list[0];
  info.node_name = list[1];
  info.node_path = list[2];
  info.node_path_time_period = list[3];
  info.node_path_number = list[4];
  info.assigned_plan_name = list[5];
  try {
    info.velocity_scale = std::stod(list[6]);
    info.waiting_for_step = std::stoi(list[7]) != 0;
  } catch (const std::logic_error& e) {  // invalid_argument and out_of_range
    spdlog::error("Invalid PlanInfo string conversion: {}", e.what());
    return Fault();
  }
  return Ok();
}

ozr::OzrState DataRpc::RequestStartIdAndDoF(const std::vector<tarn::JointGroup>& groups,
                                            std::map<tarn::JointGroup, uint32_t>& start_ids,
                                            std::map<tarn::JointGroup, uint64_t>& dofs) {
  std::vector<uint16_t> values;
  values.reserve(groups.size());
  for (auto g : groups) values.push_back(static_cast<uint16_t>(static_cast<int32_t>(g)));
  RPCReply reply;
  if (!Call(kStartIdAndDoF, values, reply)) return Fault();
  const size_t n = reply.joint_groups.size();
  if (reply.int_container.size() != n || reply.float_container.size() != n) {
    spdlog::error(
        "Malformed start ID reply: size mismatch between joint_groups, int_container, and float_container");
    return Fault();
  }
  for (size_t i = 0; i < n; ++i) {
    if (reply.int_container[i] < 0 || !ConvertibleDoF(reply.float_container[i])) {
      spdlog::error("Malformed start ID reply: start ID [{}] or DoF [{}] of joint group [{}] is out of range",
                    reply.int_container[i], reply.float_container[i], reply.joint_groups[i]);
      return Fault();
    }
  }
  start_ids.clear();
  dofs.clear();
  for (size_t i = 0; i < n; ++i) {
    const auto group = static_cast<tarn::JointGroup>(reply.joint_groups[i]);
    start_ids[group] = static_cast<uint32_t>(reply.int_container[i]);
    dofs[group] = static_cast<uint64_t>(reply.float_container[i]);
  }
  return Ok();
}

ozr::OzrState DataRpc::RequestManipulability(std::map<tarn::JointGroup, std::array<double, 6>>& out) {
  RPCReply reply;
  if (!Call(kManipulability, {}, reply)) return Fault();
  if (reply.joint_groups.size() != reply.float2d_container.size()) {
    spdlog::error("Malformed manipulability reply: size mismatch between joint_groups and float2d_container");
    return Fault();
  }
  out.clear();
  for (size_t i = 0; i < reply.joint_groups.size(); ++i) {
    const auto& v = reply.float2d_container[i];
    if (v.size() < 8) {
      spdlog::error("Malformed manipulability reply: packed vector size [{}], expecting at least [{}]", v.size(), 8);
      return Fault();
    }
    out[static_cast<tarn::JointGroup>(reply.joint_groups[i])] = {v[2], v[3], v[4], v[5], v[6], v[7]};
  }
  return Ok();
}

}  // namespace norvik::tarn_impl
