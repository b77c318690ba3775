// Connects to a robot by serial number and prints its state once a second.
//
//   print_robot SERIAL [SECONDS]
//
// Runs for SECONDS (default: until Ctrl-C).
#include <norvik/tarn.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <variant>

namespace {

std::atomic<bool> g_stop{false};

template <typename Seq>
std::string Join(const Seq& values) {
  std::string out;
  char buf[32];
  for (const auto& v : values) {
    std::snprintf(buf, sizeof buf, out.empty() ? "%.3f" : " %.3f", static_cast<double>(v));
    out += buf;
  }
  return out;
}

std::string Bits(const std::array<bool, 20>& bits) {
  std::string out;
  for (bool b : bits) out += b ? '1' : '0';
  return out;
}

std::string Text(const std::variant<int32_t, double, std::string>& v) {
  if (auto i = std::get_if<int32_t>(&v)) return std::to_string(*i);
  if (auto d = std::get_if<double>(&v)) return std::to_string(*d);
  return std::get<std::string>(v);
}

void PrintOnce(const norvik::tarn::Client& robot) {
  using norvik::tarn::kJointGroupNames;
  const auto groups = robot.groups();
  const auto states = robot.states();
  std::printf("groups:");
  for (const auto& [group, name] : groups) std::printf(" %s", name.c_str());
  std::printf("\ne-stop released: %s, enabling device: %s\ndigital inputs: %s\n",
              robot.estop_released() ? "yes" : "no", robot.enabling_device_on() ? "on" : "off",
              Bits(robot.digital_inputs()).c_str());
  for (const auto& [group, s] : states) {
    const auto name = kJointGroupNames.count(group) ? kJointGroupNames.at(group) : "?";
    std::printf("  %-8s q [%s]\n  %-8s tcp_pose [%s]\n", name.c_str(), Join(s.q).c_str(), "", Join(s.tcp_pose).c_str());
  }
  try {
    for (const auto& [group, p] : robot.primitive_states()) {
      std::printf("  primitive on %s: %s", kJointGroupNames.at(group).c_str(), p.pt_name.c_str());
      for (const auto& [name, value] : p.names_and_values) std::printf(" %s=%s", name.c_str(), Text(value).c_str());
      std::printf("\n");
    }
    const auto plan = robot.plan_info();
    std::printf("  plan: %s node %s (%s) velocity %.2f%s\n", plan.assigned_plan_name.c_str(), plan.node_name.c_str(),
                plan.node_path.c_str(), plan.velocity_scale, plan.waiting_for_step ? ", waiting for step" : "");
    for (const auto& [group, score] : robot.configuration_score()) {
      std::printf("  configuration score %s: %.1f / %.1f\n", kJointGroupNames.at(group).c_str(), score.first,
                  score.second);
    }
  } catch (const std::exception& e) {
    std::printf("  request failed: %s\n", e.what());
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SERIAL [SECONDS]\n", argv[0]);
    return 2;
  }
  const double seconds = argc > 2 ? std::stod(argv[2]) : 0.0;
  std::signal(SIGINT, [](int) { g_stop = true; });
  std::signal(SIGTERM, [](int) { g_stop = true; });
  try {
    norvik::tarn::Client robot(argv[1]);
    const auto start = std::chrono::steady_clock::now();
    while (!g_stop) {
      PrintOnce(robot);
      const auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      while (!g_stop && std::chrono::steady_clock::now() < next) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (seconds > 0 && std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(seconds)) break;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
