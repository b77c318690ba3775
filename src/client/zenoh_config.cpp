#include "norvik/tarn/zenoh_config.h"

#include <stdexcept>

#include "middleware/shared_session.h"

namespace norvik::tarn {

struct ZenohConfig::Data {
  zenoh_mdw::SessionConfig config;
};

namespace {

constexpr const char* kPrefix = "[norvik::tarn::ZenohConfig] ";

// Builds it once, so that a bad file or value is reported where it is named.
std::shared_ptr<const ZenohConfig::Data> Checked(zenoh_mdw::SessionConfig config) {
  try {
    zenoh_mdw::MakeZenohConfig(config);
  } catch (const std::exception& e) {
    throw std::invalid_argument(kPrefix + std::string(e.what()));
  }
  return std::make_shared<const ZenohConfig::Data>(ZenohConfig::Data{std::move(config)});
}

}  // namespace

ZenohConfig::ZenohConfig(std::shared_ptr<const Data> data) noexcept : data_(std::move(data)) {}

ZenohConfig ZenohConfig::defaults() {
  return ZenohConfig(std::make_shared<const Data>(Data{zenoh_mdw::SessionConfig{}}));
}

ZenohConfig ZenohConfig::from_env() { return ZenohConfig(Checked(zenoh_mdw::SessionConfig::FromEnvironment())); }

ZenohConfig ZenohConfig::from_file(const std::string& path) {
  return ZenohConfig(Checked(zenoh_mdw::SessionConfig::FromFile(path)));
}

ZenohConfig ZenohConfig::from_json5(const std::string& text) {
  return ZenohConfig(Checked(zenoh_mdw::SessionConfig::FromJson5(text)));
}

ZenohConfig ZenohConfig::connect_to(const std::vector<std::string>& endpoints, ZenohMode mode) {
  if (endpoints.empty()) throw std::invalid_argument(kPrefix + std::string("No endpoint to connect to"));
  return ZenohConfig(
      Checked(zenoh_mdw::SessionConfig::ConnectTo(endpoints, mode == ZenohMode::Client ? "client" : "peer")));
}

const std::string& ZenohConfig::description() const noexcept { return data_->config.description; }

void use_zenoh_config(const ZenohConfig& config) {
  try {
    zenoh_mdw::SetSessionConfig(config.data_->config);
  } catch (const std::logic_error& e) {
    throw std::logic_error("[norvik::tarn::use_zenoh_config] " + std::string(e.what()));
  }
}

ZenohConfig zenoh_config() {
  return ZenohConfig(std::make_shared<const ZenohConfig::Data>(ZenohConfig::Data{zenoh_mdw::NextSessionConfig()}));
}

bool zenoh_session_open() { return zenoh_mdw::SharedSessionOpen(); }

}  // namespace norvik::tarn
