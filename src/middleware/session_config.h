// Where the shared session's Zenoh configuration comes from, and building it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "zenoh/session.hxx"

namespace norvik::zenoh_mdw {

struct SessionConfig {
  enum class Source { Defaults, File, Json5 };
  Source source = Source::Defaults;
  std::string text;  // the file's path or the JSON5 text
  // Set over the source in order, as (key, JSON5 value).
  std::vector<std::pair<std::string, std::string>> overrides;
  // "Zenoh's default configuration", "the Zenoh configuration file 'x'", ...
  std::string description = "Zenoh's default configuration";

  // The file ZENOH_CONFIG names when it is set and not empty, else the defaults.
  static SessionConfig FromEnvironment();
  static SessionConfig FromFile(const std::string& path, bool from_environment = false);
  static SessionConfig FromJson5(const std::string& text);
  // The defaults, connecting to `endpoints` in `mode` ("client" or "peer")
  // with multicast scouting off.
  static SessionConfig ConnectTo(const std::vector<std::string>& endpoints, const std::string& mode);

  bool IsDefaults() const { return source == Source::Defaults && overrides.empty(); }
};

// Builds the Zenoh configuration. Throws zenoh::ZException: for the defaults
// "Failed to create default configuration", otherwise a text that names
// the configuration and gives Zenoh's reason.
zenoh::Config MakeZenohConfig(const SessionConfig& config);

// `text` as a JSON string literal.
std::string JsonString(const std::string& text);

}  // namespace norvik::zenoh_mdw
