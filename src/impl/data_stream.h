// The latest sample of each of the robot's two streams, and the per-group
// records cut out of it.
//
// Zenoh's threads store each new sample into a published copy under that
// stream's mutex; the caller's threads read under the same mutex, so a reader
// always sees one whole sample. The two streams are independent and never
// locked together. Every getter answers before the first sample (all zero,
// all empty).
#pragma once

#include <Eigen/Core>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "middleware/nodes.h"
#include "middleware/subscriber.h"
#include "msgs/stream_messages.h"
#include "norvik/tarn/joint_group.h"
#include "norvik/tarn/records.h"
#include "vocab/ozr_states.h"

namespace norvik::tarn_impl {

using GroupNames = std::map<tarn::JointGroup, std::string>;
using StartIds = std::map<tarn::JointGroup, uint32_t>;
using DoFs = std::map<tarn::JointGroup, uint64_t>;

class DataStream {
 public:
  using BasicData = zenoh_msgs::tarn_msg::AllBasicStreamData;
  using ExtraData = zenoh_msgs::tarn_msg::AllExtraStreamData;

  DataStream() = default;
  DataStream(const DataStream&) = delete;
  DataStream& operator=(const DataStream&) = delete;
  virtual ~DataStream();

  // Subscribes to both streams of robot `serial`; throws zenoh::ZException
  // when a subscriber cannot be declared.
  ozr::OzrState Init(const zenoh_mdw::RealtimeNode& node, const std::string& serial);

  // Publish the receive buffer; run by the subscribers on Zenoh's threads.
  void BasicSubCallback();
  void ExtraSubCallback();

  ozr::SystemState GetSystemState() const;
  ozr::SafetyBoardState GetSafetyBoardState() const;
  bool IsEstopReleased() const;
  bool IsEnablingDeviceOn() const;
  std::array<bool, 8> GetSafetyInputs() const;
  std::array<bool, 20> GetDigitalInput() const;
  std::array<bool, 20> GetDigitalOutput() const;

  // The groups named in the latest basic (or extra) sample; empty when one is
  // above 5. Throws std::out_of_range for the unnamed value 1.
  GroupNames GetJointGroups(bool basic) const;
  // Per-group records of the latest samples; empty (and an error logged) when
  // a sample is inconsistent with itself or with the layout.
  std::map<tarn::JointGroup, tarn::RobotStates> GetRobotStates(const GroupNames& groups, const StartIds& start_ids,
                                                               const DoFs& dofs) const;
  std::map<tarn::JointGroup, tarn::RobotActions> GetRobotActions(const GroupNames& groups, const StartIds& start_ids,
                                                                 const DoFs& dofs) const;
  // Contact points and forces of each group's joints, cut like the joint data.
  std::map<tarn::JointGroup, std::vector<Eigen::Vector3d>> GetMultiContactPositions(const GroupNames& groups,
                                                                                    const StartIds& start_ids,
                                                                                    const DoFs& dofs) const;
  std::map<tarn::JointGroup, std::vector<Eigen::Vector3d>> GetMultiContactForces(const GroupNames& groups,
                                                                                 const StartIds& start_ids,
                                                                                 const DoFs& dofs) const;

  // Rotates the TCP-frame wrenches into the world frame with tcp_pose's orientation.
  static void SetExtWrenchInWorld(tarn::RobotStates& states);

  // Samples stored and samples dropped as malformed, per stream (0 before Init).
  uint64_t BasicReceived() const;
  uint64_t BasicMalformed() const;
  uint64_t ExtraReceived() const;
  uint64_t ExtraMalformed() const;

 private:
  template <typename Field>
  std::map<tarn::JointGroup, std::vector<Eigen::Vector3d>> CutContacts(Field field, const char* what,
                                                                       const GroupNames& groups,
                                                                       const StartIds& start_ids,
                                                                       const DoFs& dofs) const;

  BasicData basic_receive_;
  ExtraData extra_receive_;
  BasicData basic_published_;
  ExtraData extra_published_;
  mutable std::mutex basic_mutex_;
  mutable std::mutex extra_mutex_;
  std::shared_ptr<zenoh_mdw::Subscriber<BasicData>> basic_subscriber_;
  std::shared_ptr<zenoh_mdw::Subscriber<ExtraData>> extra_subscriber_;
};

}  // namespace norvik::tarn_impl
