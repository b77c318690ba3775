// Encoding and decoding of the TARN messages. Decoding goes through
// zenoh::ext::deserialize<T>(payload[, &err]): without a result slot it
// throws zenoh::ZException on the first failure, with one it stores the code
// and returns the partly filled message.
#pragma once

#include "msgs/rpc_messages.h"
#include "msgs/stream_messages.h"
#include "zenoh/bytes.hxx"
#include "zenoh/ext/deserialize.hxx"

namespace norvik::zenoh_msgs::tarn_msg {

// Throws zenoh::ZException "Failed to serialize uint16_t" or
// "Failed to serialize sequence length".
zenoh::Bytes SerializeMessage(const RPCRequest& request);

// The robot side's messages, for simulated peers and benchmarks.
zenoh::Bytes SerializeMessage(const RPCReply& reply);
zenoh::Bytes SerializeMessage(const AllBasicStreamData& data);
zenoh::Bytes SerializeMessage(const AllExtraStreamData& data);

// Hooks of zenoh::ext::deserialize and deserialize_into; false on the first
// failure, whose code and text `d` keeps.
bool deserialize_with_deserializer(zenoh::ext::Deserializer& d, RPCRequest& message);
bool deserialize_with_deserializer(zenoh::ext::Deserializer& d, RPCReply& message);
bool deserialize_with_deserializer(zenoh::ext::Deserializer& d, AllBasicStreamData& message);
bool deserialize_with_deserializer(zenoh::ext::Deserializer& d, AllExtraStreamData& message);

}  // namespace norvik::zenoh_msgs::tarn_msg
