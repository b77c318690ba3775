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
#include <chrono>
#include <optional>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "impl/sample_queue.h"
#include "middleware/nodes.h"
#include "middleware/subscriber.h"
#include "msgs/stream_messages.h"
#include "norvik/tarn/joint_group.h"
#include "norvik/tarn/records.h"
#include "norvik/tarn/sample_batch.h"
#include "norvik/tarn/stream_health.h"
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

  // The cutting of GetRobotStates and GetRobotActions, for any sample.
  static std::map<tarn::JointGroup, tarn::RobotStates> CutStates(const BasicData& data, const GroupNames& groups,
                                                                 const StartIds& start_ids, const DoFs& dofs);
  static std::map<tarn::JointGroup, tarn::RobotActions> CutActions(const ExtraData& data,
                                                                   std::pair<int32_t, int32_t> stamp,
                                                                   const GroupNames& groups, const StartIds& start_ids,
                                                                   const DoFs& dofs);

  // Counts, stamps and arrival times of one stream.
  tarn::StreamHealth Health(tarn::StreamKind stream) const;

  // From now on keeps every sample of both streams, up to `capacity` each
  // waiting to be taken; calling it again changes nothing.
  void StartQueues(size_t capacity);
  // The oldest queued sample, cut with the layout; empty after `timeout`
  // without one, or when the queues were never started.
  std::optional<tarn::StatesSample> NextStates(std::chrono::nanoseconds timeout, const GroupNames& groups,
                                               const StartIds& start_ids, const DoFs& dofs);
  std::optional<tarn::ActionsSample> NextActions(std::chrono::nanoseconds timeout, const GroupNames& groups,
                                                 const StartIds& start_ids, const DoFs& dofs);
  // The oldest queued sample and, without waiting more, those behind it of
  // the same shape (joint groups and sizes), up to `max_count` in all, each
  // cut as NextStates / NextActions cut it and laid out in columns; count 0
  // after `timeout` without one, or when the queues were never started. The
  // queue is locked once per run; the cutting and the columns come after.
  tarn::StatesBatch TakeStates(size_t max_count, std::chrono::nanoseconds timeout, const GroupNames& groups,
                               const StartIds& start_ids, const DoFs& dofs);
  tarn::ActionsBatch TakeActions(size_t max_count, std::chrono::nanoseconds timeout, const GroupNames& groups,
                                 const StartIds& start_ids, const DoFs& dofs);

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

  struct Arrival {
    uint64_t index = 0;
    std::chrono::steady_clock::time_point at{};
    std::pair<int32_t, int32_t> stamp{0, 0};
  };
  struct QueuedBasic {
    Arrival arrival;
    BasicData data;
  };
  struct QueuedExtra {
    Arrival arrival;
    ExtraData data;
  };

  std::shared_ptr<SampleQueue<QueuedBasic>> BasicQueue() const;
  std::shared_ptr<SampleQueue<QueuedExtra>> ExtraQueue() const;
  static tarn::StatesSample ToStatesSample(const QueuedBasic& item, const GroupNames& groups,
                                           const StartIds& start_ids, const DoFs& dofs);
  static tarn::ActionsSample ToActionsSample(const QueuedExtra& item, const GroupNames& groups,
                                             const StartIds& start_ids, const DoFs& dofs);
  // Whether two queued samples cut to the same groups and DoF: equal group
  // lists and equal sizes of every sequence the cutting reads.
  static bool SameShape(const QueuedBasic& a, const QueuedBasic& b);
  static bool SameShape(const QueuedExtra& a, const QueuedExtra& b);

  BasicData basic_receive_;
  ExtraData extra_receive_;
  BasicData basic_published_;
  ExtraData extra_published_;
  mutable std::mutex basic_mutex_;
  mutable std::mutex extra_mutex_;
  Arrival basic_arrival_;  // guarded by basic_mutex_
  Arrival extra_arrival_;  // guarded by extra_mutex_
  std::shared_ptr<SampleQueue<QueuedBasic>> basic_queue_;  // set once, under basic_mutex_
  std::shared_ptr<SampleQueue<QueuedExtra>> extra_queue_;  // set once, under extra_mutex_
  std::shared_ptr<zenoh_mdw::Subscriber<BasicData>> basic_subscriber_;
  std::shared_ptr<zenoh_mdw::Subscriber<ExtraData>> extra_subscriber_;
};

}  // namespace norvik::tarn_impl
