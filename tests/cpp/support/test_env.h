// Where a test finds the interpreter and the source tree, and names that no
// other test run uses.
#pragma once

#include <string>

namespace norvik::test {

// The Python interpreter the build was configured with.
std::string PythonExecutable();
// Absolute path of a file in the source tree.
std::string SourcePath(const std::string& relative);
// A key prefix unique to this process and call, so test runs never meet.
std::string UniquePrefix(const std::string& name);
// A valid serial number unique to this process and call, such as "T123x4-7".
std::string UniqueSerial();

}  // namespace norvik::test
