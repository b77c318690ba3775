#include "middleware/session_config.h"

#include <cstdio>
#include <cstdlib>

namespace norvik::zenoh_mdw {

namespace {
constexpr const char* kEnvironmentVariable = "ZENOH_CONFIG";
// A client whose routers are all unreachable gives up within the time a
// Client takes to find no robot, instead of Zenoh's 10 s link timeout.
constexpr const char* kClientConnectTimeoutMs = "3000";
}  // namespace

SessionConfig SessionConfig::FromEnvironment() {
  const char* path = std::getenv(kEnvironmentVariable);
  if (path == nullptr || *path == '\0') return SessionConfig{};
  return FromFile(path, true);
}

SessionConfig SessionConfig::FromFile(const std::string& path, bool from_environment) {
  SessionConfig config;
  config.source = Source::File;
  config.text = path;
  config.description = "the Zenoh configuration file '" + path + "'";
  if (from_environment) config.description += " (" + std::string(kEnvironmentVariable) + ")";
  return config;
}

SessionConfig SessionConfig::FromJson5(const std::string& text) {
  SessionConfig config;
  config.source = Source::Json5;
  config.text = text;
  config.description = "the Zenoh configuration given as JSON5 text";
  return config;
}

SessionConfig SessionConfig::ConnectTo(const std::vector<std::string>& endpoints, const std::string& mode) {
  SessionConfig config;
  std::string list, names;
  for (const auto& endpoint : endpoints) {
    list += (list.empty() ? "" : ", ") + JsonString(endpoint);
    names += (names.empty() ? "" : ", ") + endpoint;
  }
  config.overrides = {{"mode", JsonString(mode)},
                      {"connect/endpoints", "[" + list + "]"},
                      {"scouting/multicast/enabled", "false"}};
  if (mode == "client") config.overrides.emplace_back("connect/timeout_ms", kClientConnectTimeoutMs);
  config.description = "Zenoh " + mode + " mode connecting to " + names;
  return config;
}

zenoh::Config MakeZenohConfig(const SessionConfig& config) {
  if (config.IsDefaults()) return zenoh::Config::create_default();
  zenoh::ZResult rc = NZ_OK;
  auto fail = [&config](const std::string& what, zenoh::ZResult code) {
    return zenoh::ZException("Failed to " + what + " " + config.description + ": " + zenoh::last_error(), code);
  };
  zenoh::Config built = config.source == SessionConfig::Source::File   ? zenoh::Config::from_file(config.text, &rc)
                        : config.source == SessionConfig::Source::Json5 ? zenoh::Config::from_json5(config.text, &rc)
                                                                        : zenoh::Config::create_default(&rc);
  if (rc != NZ_OK) throw fail("load", rc);
  for (const auto& [key, value] : config.overrides) {
    built.insert_json5(key, value, &rc);
    if (rc != NZ_OK) throw fail("set " + key + " in", rc);
  }
  return built;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace norvik::zenoh_mdw
