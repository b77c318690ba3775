#include "support/test_env.h"

#include <unistd.h>

#include <atomic>

namespace norvik::test {

std::string PythonExecutable() { return NORVIK_TEST_PYTHON; }

std::string SourcePath(const std::string& relative) { return std::string(NORVIK_SOURCE_DIR) + "/" + relative; }

std::string UniquePrefix(const std::string& name) {
  static std::atomic<int> counter{0};
  return "norvik/test/" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "/" + name;
}

std::string UniqueSerial() {
  static std::atomic<int> counter{0};
  return "T" + std::to_string(getpid()) + "x" + std::to_string(counter++) + "-7";
}

}  // namespace norvik::test
