#include "msgs/codec.h"

#include "msgs/fields.h"
#include "msgs/serdetail.h"
#include "zenoh/exception.hxx"
#include "zenoh/ext/serializer.hxx"

namespace norvik::zenoh_msgs::tarn_msg {

namespace {

template <typename T>
zenoh::Bytes SerializeRecord(const T& message) {
  zenoh::ext::Serializer s;
  if (!serdetail::Write(s, message)) throw zenoh::ZException("Failed to serialize message", NZ_EGENERIC);
  return std::move(s).finish();
}

void Check(zenoh::ZResult rc, const char* text) {
  if (rc != NZ_OK) throw zenoh::ZException(text, rc);
}

// A whole message, read on a copy of the deserializer that the compiler can
// keep in registers; `d` then learns where it ended and how.
template <typename T>
bool ReadMessage(zenoh::ext::Deserializer& d, T& message) {
  zenoh::ext::Deserializer local = d;
  const bool ok = serdetail::Read(local, message);
  d = local;
  return ok;
}

}  // namespace

zenoh::Bytes SerializeMessage(const RPCRequest& request) {
  zenoh::ext::Serializer s;
  Check(s.write(request.request_id), "Failed to serialize uint16_t");
  Check(s.write_sequence_length(request.joint_groups.size()), "Failed to serialize sequence length");
  for (uint16_t group : request.joint_groups) Check(s.write(group), "Failed to serialize uint16_t");
  return std::move(s).finish();
}

zenoh::Bytes SerializeMessage(const RPCReply& reply) { return SerializeRecord(reply); }
zenoh::Bytes SerializeMessage(const AllBasicStreamData& data) { return SerializeRecord(data); }
zenoh::Bytes SerializeMessage(const AllExtraStreamData& data) { return SerializeRecord(data); }

bool deserialize_with_deserializer(zenoh::ext::Deserializer& d, RPCRequest& message) {
  return ReadMessage(d, message);
}
bool deserialize_with_deserializer(zenoh::ext::Deserializer& d, RPCReply& message) {
  return ReadMessage(d, message);
}
bool deserialize_with_deserializer(zenoh::ext::Deserializer& d, AllBasicStreamData& message) {
  return ReadMessage(d, message);
}
bool deserialize_with_deserializer(zenoh::ext::Deserializer& d, AllExtraStreamData& message) {
  return ReadMessage(d, message);
}

}  // namespace norvik::zenoh_msgs::tarn_msg
