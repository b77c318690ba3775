// Test vectors written by an independent encoder (see tests/peers).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norvik::test {

// The bytes of the vector `name` in tests/vectors/<file>; throws if absent.
std::vector<uint8_t> Vector(const std::string& file, const std::string& name);
std::vector<uint8_t> FromHex(const std::string& hex);

}  // namespace norvik::test
