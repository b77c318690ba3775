// The whole sample path: arbitrary payloads published on a robot's stream
// keys, through the subscribers into the store, then cut with both robot
// profiles' layouts. The first byte picks the stream. Opens a Zenoh session:
// run it inside a private network namespace.
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <memory>

#include "impl/data_stream.h"
#include "middleware/shared_session.h"
#include "msgs/codec.h"

namespace {

using norvik::tarn::JointGroup;
namespace impl = norvik::tarn_impl;

struct Layout {
  impl::GroupNames groups;
  impl::StartIds start_ids;
  impl::DoFs dofs;
};

const Layout kDual{{{JointGroup::ARMS, "ARMS"}, {JointGroup::ARM_1, "ARM_1"}, {JointGroup::ARM_2, "ARM_2"}, {JointGroup::EXT_AXIS, "EXT_AXIS"}},
                   {{JointGroup::ALL, 0}, {JointGroup::ARMS, 0}, {JointGroup::ARM_1, 0}, {JointGroup::ARM_2, 7}, {JointGroup::EXT_AXIS, 14}},
                   {{JointGroup::ALL, 15}, {JointGroup::ARMS, 14}, {JointGroup::ARM_1, 7}, {JointGroup::ARM_2, 7}, {JointGroup::EXT_AXIS, 1}}};
const Layout kSingle{{{JointGroup::ARM_1, "ARM_1"}},
                     {{JointGroup::ALL, 0}, {JointGroup::ARMS, 0}, {JointGroup::ARM_1, 0}, {JointGroup::ARM_2, 7}, {JointGroup::EXT_AXIS, 7}},
                     {{JointGroup::ALL, 7}, {JointGroup::ARMS, 7}, {JointGroup::ARM_1, 7}, {JointGroup::ARM_2, 0}, {JointGroup::EXT_AXIS, 0}}};

struct Rig {
  Rig() : session(norvik::zenoh_mdw::GetSharedZenohSession()) {
    stream.Init(norvik::zenoh_mdw::RealtimeNode{session}, "FUZZ-1");
    basic.emplace(session->declare_publisher(zenoh::KeyExpr("norvik/robot/FUZZ-1/basic_stream_data")));
    extra.emplace(session->declare_publisher(zenoh::KeyExpr("norvik/robot/FUZZ-1/extra_stream_data")));
  }
  std::shared_ptr<zenoh::Session> session;
  impl::DataStream stream;
  std::optional<zenoh::Publisher> basic, extra;
};

Rig* rig = nullptr;

void Check(const Layout& layout) {
  const auto states = rig->stream.GetRobotStates(layout.groups, layout.start_ids, layout.dofs);
  for (const auto& [group, dof] : layout.dofs) {
    const auto it = states.find(group);
    if (layout.groups.count(group) && it != states.end() && it->second.q.size() != dof) std::abort();
  }
  const auto actions = rig->stream.GetRobotActions(layout.groups, layout.start_ids, layout.dofs);
  for (const auto& [group, a] : actions) {
    if (layout.groups.count(group) && a.q_d.size() != layout.dofs.at(group)) std::abort();
  }
  rig->stream.GetMultiContactPositions(layout.groups, layout.start_ids, layout.dofs);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  spdlog::set_level(spdlog::level::off);
  static Rig instance;
  rig = &instance;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const zenoh::Bytes payload(data + 1, size - 1);
  (data[0] & 1 ? *rig->extra : *rig->basic).put(zenoh::Bytes(data + 1, size - 1));
  for (bool basic : {true, false}) {
    try {
      const auto groups = rig->stream.GetJointGroups(basic);
      for (const auto& [g, name] : groups) {
        if (static_cast<int>(g) > 5 || name.empty()) std::abort();
      }
    } catch (const std::out_of_range&) {  // the unnamed group value 1
    }
  }
  Check(kDual);
  Check(kSingle);
  rig->stream.GetDigitalInput();
  rig->stream.IsEstopReleased();
  return 0;
}
