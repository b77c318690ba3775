// The data access layer's façade: the two middleware nodes on the shared
// session, the stream side and the request side, started in a fixed order
// and torn down in the reverse one.
#pragma once

#include <string>

#include "impl/data_rpc.h"
#include "impl/data_stream.h"
#include "middleware/nodes.h"
#include "vocab/ozr_states.h"

namespace norvik::tarn_impl {

class TARNClient {
 public:
  // Takes two shares of the process-wide session; throws what opening it throws.
  explicit TARNClient(bool verbose);
  TARNClient(const TARNClient&) = delete;
  TARNClient& operator=(const TARNClient&) = delete;
  virtual ~TARNClient();

  // Subscribes to the streams, then creates the request client.
  ozr::OzrState InitMiddleware(const std::string& serial);
  // Starts the middleware and probes the robot up to three times; throws
  // std::runtime_error when either fails.
  void Init(const std::string& serial);
  // One probe with a one-second time-out.
  bool IsConnected();

  DataStream& Stream() { return data_stream_; }
  const DataStream& Stream() const { return data_stream_; }
  DataRpc& Rpc() { return data_rpc_; }

 private:
  zenoh_mdw::ReliableNode reliable_node_;
  zenoh_mdw::RealtimeNode realtime_node_;
  DataStream data_stream_;
  DataRpc data_rpc_;
  bool verbose_;
};

}  // namespace norvik::tarn_impl
