// The wire order of every message record, as a tuple of references. Records
// add no framing of their own: a record is its fields, one after the other.
#pragma once

#include <tuple>
#include <type_traits>

#include "msgs/rpc_messages.h"
#include "msgs/serdetail.h"
#include "msgs/stream_messages.h"

namespace norvik::zenoh_msgs::tarn_msg {

template <typename R, typename T>
using OnlyFor = std::enable_if_t<std::is_same_v<std::remove_const_t<R>, T>, int>;

template <typename R, OnlyFor<R, RPCRequest> = 0>
auto Fields(R& r) {
  return std::tie(r.request_id, r.joint_groups);
}
template <typename R, OnlyFor<R, RPCReply> = 0>
auto Fields(R& r) {
  return std::tie(r.request_id, r.success, r.joint_groups, r.int_container, r.string_container, r.float_container,
                  r.float2d_container);
}
template <typename R, OnlyFor<R, BasicJointData> = 0>
auto Fields(R& r) {
  return std::tie(r.q, r.theta, r.dq, r.dtheta, r.tau, r.tau_dot, r.tau_ext, r.tau_interact, r.temperature,
                  r.contact_positions, r.contact_forces);
}
template <typename R, OnlyFor<R, BasicCartesianData> = 0>
auto Fields(R& r) {
  return std::tie(r.flange_pose, r.tcp_pose, r.tcp_twist, r.tcp_wrench_local, r.raw_tcp_wrench,
                  r.raw_tcp_wrench_local, r.raw_ft_sensor);
}
template <typename R, OnlyFor<R, AllBasicStreamData> = 0>
auto Fields(R& r) {
  return std::tie(r.system_state, r.safety_board_state, r.estop_released, r.enabling_device_on, r.safety_inputs,
                  r.digital_inputs, r.digital_outputs, r.joint_groups, r.joint_data, r.cartesian_data, r.stamp_sec,
                  r.stamp_nanosec);
}
template <typename R, OnlyFor<R, ExtraCartesianData> = 0>
auto Fields(R& r) {
  return std::tie(r.tcp_pose_d, r.tcp_twist_d, r.tcp_wrench_d);
}
template <typename R, OnlyFor<R, AllExtraStreamData> = 0>
auto Fields(R& r) {
  return std::tie(r.joint_groups, r.q_d, r.dq_d, r.tau_d, r.cartesian_data);
}

}  // namespace norvik::zenoh_msgs::tarn_msg

namespace norvik::zenoh_msgs::serdetail {

template <typename T>
using FieldsOf = decltype(tarn_msg::Fields(std::declval<T&>()));

template <typename T, typename = void>
struct IsRecord : std::false_type {};
template <typename T>
struct IsRecord<T, std::void_t<FieldsOf<T>>> : std::true_type {};

template <typename Tuple>
struct SumWireSize;
template <typename... Ts>
struct SumWireSize<std::tuple<Ts&...>> {
  static constexpr size_t value = (WireSize<std::remove_const_t<Ts>>::value + ... + 0);
};

template <typename T>
struct WireSize<T, std::enable_if_t<IsRecord<T>::value>> {
  static constexpr size_t value = SumWireSize<FieldsOf<T>>::value;
};

// Fields strictly in wire order; the first failure stops the record.
template <typename T>
struct Des<T, std::enable_if_t<IsRecord<T>::value>> {
  template <typename R>
  NORVIK_READ_INLINE static bool Read(R& d, T& r) {
    return std::apply([&d](auto&... f) __attribute__((always_inline)) { return (serdetail::Read(d, f) && ...); }, tarn_msg::Fields(r));
  }
};
template <typename T>
struct Ser<T, std::enable_if_t<IsRecord<T>::value>> {
  static bool Write(Serializer& s, const T& r) {
    return std::apply([&s](const auto&... f) { return (serdetail::Write(s, f) && ...); }, tarn_msg::Fields(r));
  }
};

}  // namespace norvik::zenoh_msgs::serdetail
