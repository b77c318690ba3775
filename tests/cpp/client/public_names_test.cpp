// The public serial-number function and the state-code names, as programs
// and the tarn tool see them through the exported API.
#include <gtest/gtest.h>

#include <stdexcept>

#include "client/serial_number.h"
#include "norvik/tarn/serial_number.h"
#include "norvik/tarn/state_names.h"

namespace norvik::tarn {
namespace {

TEST(PublicSerialNumber, SameResultAndTextAsTheConstructorsCheck) {
  for (const char* s : {"Abc 4s-123", "AB-CD-77", "Rizon 4s-a.b+c:d", "a-1"}) {
    EXPECT_EQ(normalize_serial(s), NormaliseSerialNumber(s)) << s;
  }
  for (const char* s : {"", "abc", "-123", "abc-", "ab_c-1", " ab-1", "ab-1/**"}) {
    try {
      normalize_serial(s);
      ADD_FAILURE() << "accepted '" << s << "'";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "[norvik::tarn::Client] Format of the provided robot serial number is invalid");
    }
  }
  // a key built from a normalised serial stays as it is
  EXPECT_EQ(normalize_serial(normalize_serial("Abc 4s-123")), "Abc-4s-123");
}

TEST(StateNames, SystemStatesAtTheEndsOfTheTable) {
  EXPECT_EQ(system_state_name(0), "UNKNOWN");
  EXPECT_EQ(system_state_name(5), "WORKING_EXTERNAL_AUTO");
  EXPECT_EQ(system_state_name(8), "REWIND_EXTERNAL_AUTO");
  EXPECT_EQ(system_state_name(18), "RECOVERY_EXTERNAL_AUTO");
  EXPECT_FALSE(system_state_name(19).has_value());
  EXPECT_FALSE(system_state_name(65535).has_value());
}

TEST(StateNames, SafetyBoardStatesAreSparse) {
  EXPECT_EQ(safety_board_state_name(-1), "UNKNOWN");
  EXPECT_EQ(safety_board_state_name(24), "RELEASE_BRAKE");
  EXPECT_EQ(safety_board_state_name(136), "CAT_2_STOP");
  for (int16_t code : {-2, 1, 7, 11, 16, 137, -32768, 32767}) {
    EXPECT_FALSE(safety_board_state_name(code).has_value()) << code;
  }
}

TEST(StateNames, TablesListEveryNamedCodeInOrder) {
  const auto system = system_state_names();
  ASSERT_EQ(system.size(), 19u);
  uint16_t expected = 0;
  for (const auto& [code, name] : system) {
    EXPECT_EQ(code, expected++);
    EXPECT_EQ(system_state_name(code), name);
  }
  const auto board = safety_board_state_names();
  std::vector<int16_t> codes;
  for (const auto& [code, name] : board) {
    codes.push_back(code);
    EXPECT_EQ(safety_board_state_name(code), name);
  }
  EXPECT_EQ(codes, (std::vector<int16_t>{-1, 0, 8, 9, 10, 12, 14, 24, 40, 72, 136}));
}

}  // namespace
}  // namespace norvik::tarn
