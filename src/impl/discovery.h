// Finding the robots that answer on the network.
#pragma once

#include <chrono>
#include <map>
#include <string>

namespace norvik::tarn_impl {

// Asks every robot's request key ("norvik/robot/*/rpc") for its server
// version, again and again until `timeout` has passed, and gives the serial
// number in each answering key with the version it reported (empty when its
// reply carried none). Throws what opening the shared session throws.
std::map<std::string, std::string> DiscoverRobots(std::chrono::milliseconds timeout);

}  // namespace norvik::tarn_impl
