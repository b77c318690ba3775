// Converting plan strings: newline-separated fields from arbitrary bytes.
#include <spdlog/spdlog.h>

#include <cstdlib>

#include "impl/data_rpc.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  spdlog::set_level(spdlog::level::off);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> list(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      list.emplace_back();
    } else {
      list.back() += static_cast<char>(data[i]);
    }
  }
  norvik::tarn::PlanInfo info;
  const auto state = norvik::tarn_impl::ConvertPlanInfo(list, info);
  if (state.code() == 100000 && (list.size() != 8 || info.assigned_plan_name != list[5])) std::abort();
  if (list.size() != 8 && state.code() != 300000) std::abort();
  return 0;
}
