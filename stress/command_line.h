// The stress programs' command lines: flags, each with at most one value
// after it. A bad command line prints why and the usage, and exits with 2.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace norvik::stress {

class CommandLine {
 public:
  // `usage` is what follows "usage: " in that message.
  CommandLine(int argc, char** argv, const char* program, const char* usage)
      : argc_(argc), argv_(argv), program_(program), usage_(usage) {}

  // Moves to the next flag; false after the last.
  bool Next() {
    if (i_ + 1 >= argc_) return false;
    flag_ = argv_[++i_];
    return true;
  }
  bool Is(const char* name) const { return flag_ == name; }
  // The word after the current flag.
  std::string Value() {
    if (i_ + 1 >= argc_) Fail("missing value after " + flag_);
    return argv_[++i_];
  }

  [[noreturn]] void Fail(const std::string& why) const {
    std::fprintf(stderr, "%s: %s\nusage: %s\n", program_, why.c_str(), usage_);
    std::exit(2);
  }
  [[noreturn]] void Unknown() const { Fail("unknown option " + flag_); }

 private:
  int argc_;
  char** argv_;
  const char* program_;
  const char* usage_;
  int i_ = 0;
  std::string flag_;
};

}  // namespace norvik::stress
