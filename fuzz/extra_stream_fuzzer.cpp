// Decoding AllExtraStreamData from arbitrary bytes.
#include "decoder_fuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  norvik::fuzz::CheckDecoder<norvik::zenoh_msgs::tarn_msg::AllExtraStreamData>(data, size);
  return 0;
}
