#include "norvik/tarn/discovery.h"

#include "impl/discovery.h"

namespace norvik::tarn {

std::vector<RobotInfo> list_robots(std::chrono::milliseconds timeout) {
  std::vector<RobotInfo> robots;
  for (auto& [serial, version] : tarn_impl::DiscoverRobots(timeout)) robots.push_back({serial, std::move(version)});
  return robots;
}

}  // namespace norvik::tarn
