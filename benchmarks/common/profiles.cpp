#include "common/profiles.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "msgs/codec.h"

namespace norvik::bench {

using namespace zenoh_msgs::tarn_msg;

namespace {

struct Shape {
  size_t dof;
  std::vector<uint16_t> listed;
};

Shape ShapeOf(Profile p) {
  if (p == Profile::kDual) return {15, {2, 3, 4, 5}};
  return {7, {3}};
}

// Distinct, non-trivial values, so nothing compresses or short-cuts.
float Value(size_t i, float scale) { return scale * std::sin(0.37f * static_cast<float>(i) + scale); }

template <size_t N>
std::array<float, N> Vec(size_t seed, float scale) {
  std::array<float, N> a{};
  for (size_t i = 0; i < N; ++i) a[i] = Value(seed * 13 + i, scale);
  return a;
}

std::array<float, 7> Pose(size_t seed) {
  std::array<float, 7> p = Vec<7>(seed, 0.5f);
  float n = 0;
  for (size_t i = 3; i < 7; ++i) n += p[i] * p[i];
  n = std::sqrt(n);
  for (size_t i = 3; i < 7; ++i) p[i] /= n;
  return p;
}

std::vector<uint8_t> Wire(const zenoh::Bytes& b) { return b.as_vector(); }

}  // namespace

const char* ProfileName(Profile p) { return p == Profile::kDual ? "dual" : "single"; }

Profile ParseProfile(const std::string& name) {
  if (name == "dual") return Profile::kDual;
  if (name == "single") return Profile::kSingle;
  throw std::invalid_argument("unknown profile " + name);
}

std::vector<std::tuple<uint16_t, int32_t, float>> Layout(Profile p) {
  if (p == Profile::kDual) return {{0, 0, 15}, {2, 0, 14}, {3, 0, 7}, {4, 7, 7}, {5, 14, 1}};
  return {{0, 0, 7}, {2, 0, 7}, {3, 0, 7}, {4, 7, 0}, {5, 7, 0}};
}

AllBasicStreamData BasicSample(Profile p) {
  const Shape s = ShapeOf(p);
  AllBasicStreamData d;
  d.system_state = 7;
  d.safety_board_state = 12;
  d.estop_released = true;
  d.enabling_device_on = true;
  for (size_t i = 0; i < 8; ++i) d.safety_inputs[i] = i % 3 != 0;
  for (size_t i = 0; i < 20; ++i) d.digital_inputs[i] = i % 2 == 0;
  for (size_t i = 0; i < 20; ++i) d.digital_outputs[i] = i % 5 == 0;
  d.joint_groups = s.listed;
  auto& j = d.joint_data;
  float scale = 1.0f;
  for (auto* f : {&j.q, &j.theta, &j.dq, &j.dtheta, &j.tau, &j.tau_dot, &j.tau_ext, &j.tau_interact, &j.temperature}) {
    f->resize(s.dof);
    for (size_t i = 0; i < s.dof; ++i) (*f)[i] = Value(i, scale);
    scale += 1.0f;
  }
  for (size_t i = 0; i < s.dof; ++i) {
    j.contact_positions.push_back(Vec<3>(i, 0.8f));
    j.contact_forces.push_back(Vec<3>(i, 20.0f));
  }
  for (size_t n = 0; n < s.listed.size(); ++n) {
    BasicCartesianData c;
    c.flange_pose = Pose(n);
    c.tcp_pose = Pose(n + 7);
    c.tcp_twist = Vec<6>(n, 0.3f);
    c.tcp_wrench_local = Vec<6>(n + 1, 15.0f);
    c.raw_tcp_wrench = Vec<6>(n + 2, 15.0f);
    c.raw_tcp_wrench_local = Vec<6>(n + 3, 15.0f);
    c.raw_ft_sensor = Vec<6>(n + 4, 15.0f);
    d.cartesian_data.push_back(c);
  }
  d.stamp_sec = 1;
  d.stamp_nanosec = 2;
  return d;
}

AllExtraStreamData ExtraSample(Profile p) {
  const Shape s = ShapeOf(p);
  AllExtraStreamData d;
  d.joint_groups = s.listed;
  d.q_d.resize(s.dof);
  d.dq_d.resize(s.dof);
  d.tau_d.resize(s.dof);
  for (size_t i = 0; i < s.dof; ++i) {
    d.q_d[i] = Value(i, 1.0f);
    d.dq_d[i] = Value(i, 2.0f);
    d.tau_d[i] = Value(i, 30.0f);
  }
  for (size_t n = 0; n < s.listed.size(); ++n) {
    d.cartesian_data.push_back({Pose(n), Vec<6>(n, 0.3f), Vec<6>(n, 15.0f)});
  }
  return d;
}

std::vector<uint8_t> BasicBytes(Profile p) { return Wire(SerializeMessage(BasicSample(p))); }
std::vector<uint8_t> ExtraBytes(Profile p) { return Wire(SerializeMessage(ExtraSample(p))); }

void WriteStamp(std::vector<uint8_t>& bytes, int64_t ns) {
  const int32_t sec = static_cast<int32_t>(ns / 1000000000);
  const uint32_t nsec = static_cast<uint32_t>(ns % 1000000000);
  uint8_t* tail = bytes.data() + bytes.size() - 8;
  for (int i = 0; i < 4; ++i) tail[i] = static_cast<uint8_t>(static_cast<uint32_t>(sec) >> (8 * i));
  for (int i = 0; i < 4; ++i) tail[4 + i] = static_cast<uint8_t>(nsec >> (8 * i));
}

int64_t ReadStamp(const uint8_t* bytes, size_t size) {
  if (size < 8) return 0;
  const uint8_t* tail = bytes + size - 8;
  uint32_t sec = 0, nsec = 0;
  for (int i = 0; i < 4; ++i) sec |= static_cast<uint32_t>(tail[i]) << (8 * i);
  for (int i = 0; i < 4; ++i) nsec |= static_cast<uint32_t>(tail[4 + i]) << (8 * i);
  return static_cast<int64_t>(static_cast<int32_t>(sec)) * 1000000000 + nsec;
}

}  // namespace norvik::bench
