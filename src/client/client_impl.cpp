#include "client/client_impl.h"

#include <spdlog/spdlog.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "client/serial_number.h"

namespace norvik::tarn {

namespace {
constexpr int32_t kOk = ozr::OZR_GENERAL_OK;
constexpr auto kFirstSamplePatience = std::chrono::seconds(1);
}  // namespace

Client::Impl::Impl(const std::string& robot_sn, bool verbose) : verbose_(verbose) {
  if (verbose_) {
    spdlog::info("| | | | | | | | | |  Norvik TARN {}  | | | | | | | | | |", kClientVersion);
  }
  const std::string serial = NormaliseSerialNumber(robot_sn);
  tarn_client_ = std::make_shared<tarn_impl::TARNClient>(verbose_);
  tarn_client_->Init(serial);

  std::string version;
  if (tarn_client_->Rpc().RequestTARNVersion(version).code() != kOk) {
    throw std::runtime_error("[norvik::tarn::Client] Failed to sync TARN server version");
  }
  if (version != kClientVersion) {
    throw std::logic_error("[norvik::tarn::Client] Version of this client is incompatible with robot [" + serial + "]");
  }
  server_version_ = version;

  // Let the first stream samples arrive; sleep_for resumes after interruptions.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // The groups are taken once and kept: taken before any sample has come,
  // they would be empty and states() would never carry joint data. So a
  // late first sample gets a little longer.
  const auto patience = std::chrono::steady_clock::now() + kFirstSamplePatience;
  while (tarn_client_->Stream().BasicReceived() == 0 && std::chrono::steady_clock::now() < patience) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  groups_ = tarn_client_->Stream().GetJointGroups(true);

  std::vector<JointGroup> queryable;
  for (const auto& entry : kJointGroupNames) {
    const auto value = static_cast<int32_t>(entry.first);
    if (value >= 0 && value <= 5) queryable.push_back(entry.first);
  }
  if (queryable.size() != kJointGroupNames.size() - 1) {
    throw std::logic_error("[norvik::tarn::Client] Number of all joint groups is wrong");
  }
  if (tarn_client_->Rpc().RequestStartIdAndDoF(queryable, start_ids_, dofs_).code() != kOk) {
    throw std::runtime_error("[norvik::tarn::Client] Failed to obtain robot start ID and DoF information");
  }

  if (verbose_) {
    for (const auto& [group, dof] : dofs_) {
      const auto name = kJointGroupNames.find(group);
      spdlog::info("[norvik::tarn::Client] Joint group: {}, DoF: {}",
                   name == kJointGroupNames.end() ? std::to_string(static_cast<int32_t>(group)) : name->second, dof);
    }
    spdlog::info("[norvik::tarn::Client] Initialization complete");
  }
}

std::map<JointGroup, std::pair<uint32_t, uint64_t>> Client::Impl::layout() const {
  std::map<JointGroup, std::pair<uint32_t, uint64_t>> out;
  for (const auto& [group, start] : start_ids_) {
    const auto dof = dofs_.find(group);
    if (dof != dofs_.end()) out[group] = {start, dof->second};
  }
  return out;
}

bool Client::Impl::connected() const { return tarn_client_->IsConnected(); }

std::map<JointGroup, std::string> Client::Impl::groups() const { return tarn_client_->Stream().GetJointGroups(true); }

std::map<JointGroup, RobotStates> Client::Impl::states() const {
  return tarn_client_->Stream().GetRobotStates(groups_, start_ids_, dofs_);
}

std::map<JointGroup, RobotActions> Client::Impl::actions() const {
  return tarn_client_->Stream().GetRobotActions(groups_, start_ids_, dofs_);
}

std::map<JointGroup, PrimitiveStates> Client::Impl::primitive_states() const {
  constexpr int kAttempts = 6;
  std::vector<std::string> entries;
  for (int attempt = 1;; ++attempt) {
    entries.clear();
    if (tarn_client_->Rpc().RequestPtStates(entries).code() != kOk) {
      throw std::runtime_error("[norvik::tarn::Client::primitive_states] No reply from the robot");
    }
    bool corrupted = false;
    for (const auto& e : entries) corrupted = corrupted || e.empty();
    if (!corrupted) break;
    if (attempt == kAttempts) {
      throw std::runtime_error(
          "[norvik::tarn::Client::primitive_states] Still received corrupted data after several attempts");
    }
  }
  return ParsePrimitiveStates(entries, groups_);
}

PlanInfo Client::Impl::plan_info() const {
  PlanInfo info;
  if (tarn_client_->Rpc().RequestPlanInfo(info).code() != kOk) {
    throw std::runtime_error("[norvik::tarn::Client] plan_info: No reply from the robot");
  }
  return info;
}

std::map<JointGroup, std::pair<double, double>> Client::Impl::configuration_score() const {
  std::map<JointGroup, std::array<double, 6>> measures;
  if (tarn_client_->Rpc().RequestManipulability(measures).code() != kOk) {
    throw std::runtime_error("[norvik::tarn::Model::configuration_score] No reply from the robot");
  }
  std::map<JointGroup, std::pair<double, double>> scores;
  for (const auto& [group, m] : measures) scores[group] = ConfigurationScore(m[2], m[5]);
  return scores;
}

bool Client::Impl::estop_released() const { return tarn_client_->Stream().IsEstopReleased(); }
bool Client::Impl::enabling_device_on() const { return tarn_client_->Stream().IsEnablingDeviceOn(); }
std::array<bool, 20> Client::Impl::digital_inputs() const { return tarn_client_->Stream().GetDigitalInput(); }
std::array<bool, 20> Client::Impl::digital_outputs() const { return tarn_client_->Stream().GetDigitalOutput(); }

StreamHealth Client::Impl::stream_health(StreamKind stream) const { return tarn_client_->Stream().Health(stream); }

void Client::Impl::start_sample_queues(size_t capacity) const {
  // A queue that holds nothing would drop every sample while next_* wait.
  if (capacity == 0) {
    throw std::invalid_argument("[norvik::tarn::Client] start_sample_queues: capacity must be at least 1");
  }
  tarn_client_->Stream().StartQueues(capacity);
  queues_started_ = true;
}

void Client::Impl::RequireQueues(const char* caller) const {
  // Without queues every wait ends at once, and a polling loop spins.
  if (!queues_started_) {
    throw std::logic_error(std::string("[norvik::tarn::Client] ") + caller +
                           ": call start_sample_queues() first");
  }
}

std::optional<StatesSample> Client::Impl::next_states(std::chrono::nanoseconds timeout) const {
  RequireQueues("next_states");
  return tarn_client_->Stream().NextStates(timeout, groups_, start_ids_, dofs_);
}

std::optional<ActionsSample> Client::Impl::next_actions(std::chrono::nanoseconds timeout) const {
  RequireQueues("next_actions");
  return tarn_client_->Stream().NextActions(timeout, groups_, start_ids_, dofs_);
}

void Client::Impl::RequireBatch(const char* caller, size_t max_count) const {
  if (max_count == 0) {
    throw std::invalid_argument(std::string("[norvik::tarn::Client] ") + caller + ": max_count must be at least 1");
  }
  RequireQueues(caller);
}

StatesBatch Client::Impl::take_states(size_t max_count, std::chrono::nanoseconds timeout) const {
  RequireBatch("take_states", max_count);
  return tarn_client_->Stream().TakeStates(max_count, timeout, groups_, start_ids_, dofs_);
}

ActionsBatch Client::Impl::take_actions(size_t max_count, std::chrono::nanoseconds timeout) const {
  RequireBatch("take_actions", max_count);
  return tarn_client_->Stream().TakeActions(max_count, timeout, groups_, start_ids_, dofs_);
}

uint16_t Client::Impl::system_state() const {
  return static_cast<uint16_t>(tarn_client_->Stream().GetSystemState());
}

int16_t Client::Impl::safety_board_state() const {
  return static_cast<int16_t>(tarn_client_->Stream().GetSafetyBoardState());
}

}  // namespace norvik::tarn
