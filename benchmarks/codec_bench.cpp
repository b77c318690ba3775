// What a stream sample costs the subscriber's thread: decoding it and
// publishing it to readers, against a plain copy of the same payload bytes.
//
// "decode_publish" is the work the library does per sample: the subscriber
// decodes over its thread's storage of an earlier sample and swaps it into
// the receive buffer under its lock, then DataStream swaps the receive buffer with the
// published copy under the stream's mutex. "decode" decodes into a fresh
// record, "decode_into" over the last one's storage. The baselines copy the payload's bytes: out of
// the Zenoh payload into a buffer ("copy_payload"), and from one C++ buffer
// to another ("memcpy"). "decode_publish" repeats the library's steps
// (Subscriber's handler, DataStream's callback) on one payload, so it needs
// no session.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "common/profiles.h"
#include "impl/data_stream.h"
#include "middleware/shared_session.h"
#include "msgs/codec.h"
#include "zenoh.hxx"

namespace {

using namespace norvik;
using zenoh_msgs::tarn_msg::AllBasicStreamData;
using zenoh_msgs::tarn_msg::AllExtraStreamData;

std::vector<uint8_t> Payload(bench::Profile p, bool basic) { return basic ? bench::BasicBytes(p) : bench::ExtraBytes(p); }

void Memcpy(benchmark::State& state, bench::Profile p, bool basic) {
  const std::vector<uint8_t> src = Payload(p, basic);
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
  state.counters["payload_bytes"] = static_cast<double>(src.size());
}

void CopyPayload(benchmark::State& state, bench::Profile p, bool basic) {
  const zenoh::Bytes payload(Payload(p, basic));
  const zenoh::BytesView view = payload.view();
  std::vector<uint8_t> dst(view.size());
  for (auto _ : state) {
    nz_bytes_copy_to(view.raw(), dst.data(), dst.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dst.size()));
  state.counters["payload_bytes"] = static_cast<double>(dst.size());
}

template <typename T>
void Decode(benchmark::State& state, bench::Profile p, bool basic) {
  const zenoh::Bytes payload(Payload(p, basic));
  for (auto _ : state) {
    T decoded = zenoh::ext::deserialize<T>(payload.view());
    benchmark::DoNotOptimize(decoded);
  }
  state.counters["payload_bytes"] = static_cast<double>(payload.size());
}

template <typename T>
void DecodeInto(benchmark::State& state, bench::Profile p, bool basic) {
  const zenoh::Bytes payload(Payload(p, basic));
  T decoded{};
  for (auto _ : state) {
    if (zenoh::ext::deserialize_into(payload.view(), decoded) != NZ_OK) state.SkipWithError("did not decode");
    benchmark::DoNotOptimize(decoded);
  }
  state.counters["payload_bytes"] = static_cast<double>(payload.size());
}

template <typename T>
void DecodePublish(benchmark::State& state, bench::Profile p, bool basic) {
  const zenoh::Bytes payload(Payload(p, basic));
  T scratch{}, receive{}, published{};
  std::mutex sink_mutex, stream_mutex;
  for (auto _ : state) {
    if (zenoh::ext::deserialize_into(payload.view(), scratch) != NZ_OK) state.SkipWithError("did not decode");
    std::lock_guard<std::mutex> sink_lock(sink_mutex);
    std::swap(receive, scratch);
    std::lock_guard<std::mutex> stream_lock(stream_mutex);
    std::swap(published, receive);
    benchmark::DoNotOptimize(published);
  }
  state.counters["payload_bytes"] = static_cast<double>(payload.size());
}

// The same through the library's own code: a put on a session with a
// DataStream subscribed delivers the sample to its subscriber on the
// putting thread, which decodes and publishes it as it would a sample from
// the network. The baseline is the same put to a raw subscriber that copies
// the payload's bytes out; the difference of the two is our layer's work.
std::shared_ptr<zenoh::Session> Session() {
  static std::shared_ptr<zenoh::Session> s = zenoh_mdw::GetSharedZenohSession();
  return s;
}

void LocalPut(benchmark::State& state, bench::Profile p, bool basic, bool tarn) {
  static int n = 0;
  const std::string serial = "CODEC-" + std::to_string(getpid()) + "-" + std::to_string(++n);
  const std::string key = "norvik/robot/" + serial + (basic ? "/basic_stream_data" : "/extra_stream_data");
  const std::vector<uint8_t> bytes = Payload(p, basic);
  std::optional<tarn_impl::DataStream> ds;
  std::optional<zenoh::Subscriber> raw;
  std::vector<uint8_t> copy(bytes.size());
  std::mutex mutex;
  if (tarn) {
    ds.emplace();
    ds->Init(zenoh_mdw::RealtimeNode{Session()}, serial);
  } else {
    raw.emplace(Session()->declare_subscriber(
        zenoh::KeyExpr(key),
        [&](zenoh::BytesView payload) {
          std::lock_guard<std::mutex> lock(mutex);
          nz_bytes_copy_to(payload.raw(), copy.data(), copy.size());
        },
        [] {}));
  }
  const zenoh::Publisher pub = Session()->declare_publisher(zenoh::KeyExpr(key));
  for (auto _ : state) pub.put(zenoh::Bytes(bytes));
  const uint64_t got = tarn ? (basic ? ds->BasicReceived() : ds->ExtraReceived()) : state.iterations();
  if (got != state.iterations()) state.SkipWithError("a put was not delivered on the putting thread");
}

void RegisterAll() {
  for (bench::Profile p : {bench::Profile::kDual, bench::Profile::kSingle}) {
    for (bool basic : {true, false}) {
      const std::string tail = std::string("/") + bench::ProfileName(p) + (basic ? "/basic" : "/extra");
      benchmark::RegisterBenchmark(("memcpy" + tail).c_str(), Memcpy, p, basic);
      benchmark::RegisterBenchmark(("copy_payload" + tail).c_str(), CopyPayload, p, basic);
      if (basic) {
        benchmark::RegisterBenchmark(("decode" + tail).c_str(), Decode<AllBasicStreamData>, p, basic);
        benchmark::RegisterBenchmark(("decode_into" + tail).c_str(), DecodeInto<AllBasicStreamData>, p, basic);
        benchmark::RegisterBenchmark(("decode_publish" + tail).c_str(), DecodePublish<AllBasicStreamData>, p, basic);
      } else {
        benchmark::RegisterBenchmark(("decode" + tail).c_str(), Decode<AllExtraStreamData>, p, basic);
        benchmark::RegisterBenchmark(("decode_into" + tail).c_str(), DecodeInto<AllExtraStreamData>, p, basic);
        benchmark::RegisterBenchmark(("decode_publish" + tail).c_str(), DecodePublish<AllExtraStreamData>, p, basic);
      }
      benchmark::RegisterBenchmark(("local_put_raw_copy" + tail).c_str(), LocalPut, p, basic, false);
      benchmark::RegisterBenchmark(("local_put_tarn" + tail).c_str(), LocalPut, p, basic, true);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
