#include "support/vectors.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/test_env.h"

namespace norvik::test {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<uint8_t> Vector(const std::string& file, const std::string& name) {
  std::ifstream in(SourcePath("tests/vectors/" + file));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string key, hex;
    fields >> key >> hex;
    if (key == name) return FromHex(hex);
  }
  throw std::runtime_error("no test vector " + name + " in " + file);
}

}  // namespace norvik::test
