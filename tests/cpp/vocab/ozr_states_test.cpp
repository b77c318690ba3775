// The shared robot vocabulary.
#include <gtest/gtest.h>

#include "vocab/ozr_states.h"

namespace ozr {
namespace {

TEST(GeneralStatus, MessagesOfTheFourCodesAndOfAnyOther) {
  const auto& c = OzrGeneralStateCategory();
  EXPECT_STREQ(c.message(100000), "OK");
  EXPECT_STREQ(c.message(200000), "Warning");
  EXPECT_STREQ(c.message(300000), "Fault");
  EXPECT_STREQ(c.message(400000), "Critical fault");
  for (int32_t code : {0, 99999, 100001, 250000, 399999, 400001, -100000}) {
    EXPECT_STREQ(c.message(code), "(unrecognized)") << code;
  }
}

TEST(GeneralStatus, OneCategoryNamedGeneral) {
  EXPECT_EQ(&OzrGeneralStateCategory(), &OzrGeneralStateCategory());
  EXPECT_STREQ(OzrGeneralStateCategory().name(), "General");
  EXPECT_EQ(&MakeOzrState(300000).category(), &OzrGeneralStateCategory());
}

TEST(GeneralStatus, ValuesCompareByCodeAndOnlyFromFaultOnAreFailures) {
  EXPECT_EQ(MakeOzrState(100000), MakeOzrState(100000));
  EXPECT_NE(MakeOzrState(100000), MakeOzrState(300000));
  EXPECT_TRUE(MakeOzrState(200000).ok());
  EXPECT_TRUE(MakeOzrState(299999).ok());
  EXPECT_FALSE(MakeOzrState(300000).ok());
  EXPECT_STREQ(MakeOzrState(400000).message(), "Critical fault");
}

TEST(StateNames, SystemStatesIncludingTheOutOfOrderExternalOnes) {
  EXPECT_EQ(SystemStateName.size(), 19u);
  EXPECT_EQ(SystemStateName.at(5), "WORKING_EXTERNAL_AUTO");
  EXPECT_EQ(SystemStateName.at(8), "REWIND_EXTERNAL_AUTO");
  EXPECT_EQ(SystemStateName.at(18), "RECOVERY_EXTERNAL_AUTO");
  EXPECT_EQ(NameOf(SystemState::FAULT_AUTO), "FAULT_AUTO");
  EXPECT_FALSE(NameOf(static_cast<SystemState>(19)).has_value());
}

TEST(StateNames, SafetyBoardCodesAreSparse) {
  EXPECT_EQ(SafetyBoardStateName.size(), 11u);
  EXPECT_EQ(SafetyBoardStateName.at(24), "RELEASE_BRAKE");
  EXPECT_EQ(SafetyBoardStateName.at(-1), "UNKNOWN");
  EXPECT_EQ(NameOf(SafetyBoardState::CAT_2_STOP), "CAT_2_STOP");
  for (int16_t code : {1, 7, 11, 13, 16, 137}) EXPECT_FALSE(NameOf(static_cast<SafetyBoardState>(code)).has_value()) << code;
}

}  // namespace
}  // namespace ozr
