// The two robot profiles the benchmarks run against, as the simulated robot
// has them: the joint layout and stream samples with realistic values.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "msgs/stream_messages.h"

namespace norvik::bench {

enum class Profile { kDual, kSingle };

const char* ProfileName(Profile p);
// "dual" or "single"; throws std::invalid_argument otherwise.
Profile ParseProfile(const std::string& name);

// (group value, start index, DoF) of every group a client asks about.
std::vector<std::tuple<uint16_t, int32_t, float>> Layout(Profile p);

zenoh_msgs::tarn_msg::AllBasicStreamData BasicSample(Profile p);
zenoh_msgs::tarn_msg::AllExtraStreamData ExtraSample(Profile p);

// The wire bytes of the samples above.
std::vector<uint8_t> BasicBytes(Profile p);
std::vector<uint8_t> ExtraBytes(Profile p);

// A basic sample's stamp is its last eight bytes (stamp_sec, stamp_nanosec,
// little-endian); the robot writes its put time there so that a subscriber
// can measure latency without decoding.
void WriteStamp(std::vector<uint8_t>& basic_bytes, int64_t monotonic_ns);
int64_t ReadStamp(const uint8_t* basic_bytes, size_t size);

}  // namespace norvik::bench
