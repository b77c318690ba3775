// How this process reaches robots: the configuration of its one Zenoh session.
//
// Every Client in a process shares one Zenoh session. It opens with the
// configuration chosen here, or, when none was chosen, with the file that the
// environment variable ZENOH_CONFIG names (Zenoh's JSON5 format, as Zenoh's
// own tools read it), or with Zenoh's default configuration: a peer that
// finds robots by multicast scouting on the local network.
//
// A configuration is checked when it is made, so a missing file, a file that
// does not parse or an invalid value is reported where it is named.
// use_zenoh_config takes effect for the next session: it may be called before
// the first Client, or again once every Client is gone, never while a
// session is open. All functions here are thread-safe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "norvik/tarn/export.h"

namespace norvik::tarn {

// Zenoh's modes a program of ours runs in.
enum class ZenohMode {
  Client,  // talks through the router(s) it connects to
  Peer,    // talks to other peers directly and through routers
};

class NORVIK_TARN_API ZenohConfig {
 public:
  // Zenoh's default configuration.
  static ZenohConfig defaults();
  // The file ZENOH_CONFIG names when it is set and not empty, else the
  // defaults. Throws std::invalid_argument as from_file does.
  static ZenohConfig from_env();
  // A configuration file (.json5, .json or .yaml). Throws
  // std::invalid_argument naming the file and giving Zenoh's reason when it
  // cannot be read, does not parse or holds an invalid value.
  static ZenohConfig from_file(const std::string& path);
  // A configuration in JSON5 text. Throws std::invalid_argument with Zenoh's
  // reason when it does not parse or holds an invalid value.
  static ZenohConfig from_json5(const std::string& text);
  // The defaults, connecting to `endpoints` (such as "tcp/198.18.0.2:7447")
  // in `mode`, with multicast scouting off. A client gives up after about
  // 3 s when none of the endpoints answers. Throws std::invalid_argument for
  // an empty list or an endpoint Zenoh does not accept.
  static ZenohConfig connect_to(const std::vector<std::string>& endpoints, ZenohMode mode = ZenohMode::Client);

  // What it is, for messages: "Zenoh's default configuration",
  // "the Zenoh configuration file 'x' (ZENOH_CONFIG)", ...
  const std::string& description() const noexcept;

  struct NORVIK_TARN_LOCAL Data;  // the library's own view of it

 private:
  friend NORVIK_TARN_API void use_zenoh_config(const ZenohConfig& config);
  friend NORVIK_TARN_API ZenohConfig zenoh_config();
  explicit ZenohConfig(std::shared_ptr<const Data> data) noexcept;
  std::shared_ptr<const Data> data_;
};

// Chooses the configuration of the process's next Zenoh session. Throws
// std::logic_error, and changes nothing, while a session is open (a Client,
// or a list_robots call, still holds it).
NORVIK_TARN_API void use_zenoh_config(const ZenohConfig& config);

// The configuration the next session opens with: the one chosen, else from_env().
NORVIK_TARN_API ZenohConfig zenoh_config();

// True while the process's Zenoh session is open.
NORVIK_TARN_API bool zenoh_session_open();

}  // namespace norvik::tarn
