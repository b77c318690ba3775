// Parsing the robot's primitive-state list: entries "name = value", grouped
// by "jointGroup = <n>" markers, each group naming its "primitiveName".
#include <cctype>
#include <sstream>
#include <stdexcept>

#include "client/client_impl.h"

namespace norvik::tarn {

namespace {

using Value = std::variant<int32_t, double, std::string>;

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string("[norvik::tarn::Client::primitive_states] ") + what);
}

bool IsMarker(const std::string& entry) { return entry.size() >= 10 && entry.compare(0, 10, "jointGroup") == 0; }

size_t SplitAt(const std::string& entry) {
  const size_t eq = entry.find('=');
  if (eq == std::string::npos || eq == 0) Fail("Malformed primitive state entry");
  return eq;
}

// Only the first word of a value survives; it is an integer, a double or text.
Value TypedValue(const std::string& text) {
  std::istringstream words(text);
  std::string word;
  if (!(words >> word)) return std::string();
  const size_t digits_from = word[0] == '-' ? 1 : 0;
  bool integer = true;
  for (size_t i = digits_from; i < word.size(); ++i) integer = integer && std::isdigit(static_cast<unsigned char>(word[i]));
  if (integer) return static_cast<int32_t>(std::stoi(word));
  std::istringstream number(word);
  double d = 0.0;
  if (number >> d && number.peek() == std::char_traits<char>::eof()) return d;
  return word;
}

}  // namespace

std::map<JointGroup, PrimitiveStates> ParsePrimitiveStates(const std::vector<std::string>& entries,
                                                           const std::map<JointGroup, std::string>& known) {
  std::map<JointGroup, std::vector<const std::string*>> grouped;
  std::vector<const std::string*>* current = nullptr;
  for (const auto& entry : entries) {
    if (IsMarker(entry)) {
      const size_t eq = SplitAt(entry);
      const auto group = static_cast<JointGroup>(std::stoi(entry.substr(eq + 1)));
      if (known.count(group) == 0) Fail("Received primitive states for unknown joint group");
      if (grouped.count(group) != 0) Fail("Duplicate primitive states for a joint group");
      current = &grouped[group];
      current->push_back(&entry);
    } else {
      if (current == nullptr) Fail("Malformed primitive states: missing jointGroup marker");
      current->push_back(&entry);
    }
  }

  std::map<JointGroup, PrimitiveStates> result;
  for (const auto& [group, list] : grouped) {
    if (list.empty() || !IsMarker(*list.front())) Fail("Malformed primitive states: missing jointGroup marker");
    std::map<std::string, Value> values;
    for (const std::string* entry : list) {
      const size_t eq = SplitAt(*entry);
      values.emplace(entry->substr(0, eq - 1), TypedValue(entry->substr(eq + 1)));
    }
    const auto marker = values.find("jointGroup");
    const auto name = values.find("primitiveName");
    if (marker == values.end() || name == values.end()) {
      Fail("Malformed primitive states: jointGroup or primitiveName missing");
    }
    const int32_t value = std::get<int32_t>(marker->second);
    PrimitiveStates states;
    states.pt_name = std::get<std::string>(name->second);
    if (value != static_cast<int32_t>(group)) Fail("Inconsistent joint group in primitive states");
    values.erase("jointGroup");
    values.erase("primitiveName");
    states.names_and_values = std::move(values);
    result[group] = std::move(states);
  }
  return result;
}

}  // namespace norvik::tarn
