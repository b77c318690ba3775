// Parsing primitive-state lists: newline-separated entries from arbitrary
// bytes. Only the parser's own errors and the integer conversions' may leave.
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <variant>

#include "client/client_impl.h"

using norvik::tarn::JointGroup;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> entries(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      entries.emplace_back();
    } else {
      entries.back() += static_cast<char>(data[i]);
    }
  }
  static const std::map<JointGroup, std::string> known{
      {JointGroup::ARMS, "ARMS"}, {JointGroup::ARM_1, "ARM_1"}, {JointGroup::ARM_2, "ARM_2"}, {JointGroup::EXT_AXIS, "EXT_AXIS"}};
  try {
    const auto result = norvik::tarn::ParsePrimitiveStates(entries, known);
    for (const auto& [group, states] : result) {
      if (known.count(group) == 0) std::abort();
      if (states.names_and_values.count("jointGroup") || states.names_and_values.count("primitiveName")) std::abort();
    }
  } catch (const std::runtime_error&) {
  } catch (const std::invalid_argument&) {  // stoi
  } catch (const std::out_of_range&) {      // stoi
  } catch (const std::bad_variant_access&) {
  }
  return 0;
}
