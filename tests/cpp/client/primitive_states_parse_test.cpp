// Parsing primitive-state lists: grouping, value typing and every error.
#include <gtest/gtest.h>

#include <stdexcept>
#include <variant>

#include "client/client_impl.h"

namespace norvik::tarn {
namespace {

using Value = std::variant<int32_t, double, std::string>;
const std::map<JointGroup, std::string> kKnown{{JointGroup::ARM_1, "ARM_1"}, {JointGroup::ARM_2, "ARM_2"}};

void ExpectError(const std::vector<std::string>& entries, const std::string& what) {
  try {
    ParsePrimitiveStates(entries, kKnown);
    ADD_FAILURE() << "parsed a malformed list";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(e.what(), "[norvik::tarn::Client::primitive_states] " + what);
  }
}

Value ValueOf(const std::string& text) {
  const auto r = ParsePrimitiveStates({"jointGroup = 3", "primitiveName = P", "v = " + text}, kKnown);
  return r.at(JointGroup::ARM_1).names_and_values.at("v");
}

TEST(PrimitiveStatesParse, WorkedExample) {
  const auto r = ParsePrimitiveStates({"jointGroup = 3", "primitiveName = MoveL", "reachedTarget = 1", "speed = 0.25",
                                       "jointGroup = 4", "primitiveName = Home", "mode = auto"},
                                      kKnown);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r.at(JointGroup::ARM_1).pt_name, "MoveL");
  EXPECT_EQ(r.at(JointGroup::ARM_1).names_and_values,
            (std::map<std::string, Value>{{"reachedTarget", int32_t{1}}, {"speed", 0.25}}));
  EXPECT_EQ(r.at(JointGroup::ARM_2).pt_name, "Home");
  EXPECT_EQ(r.at(JointGroup::ARM_2).names_and_values, (std::map<std::string, Value>{{"mode", std::string("auto")}}));
}

TEST(PrimitiveStatesParse, EmptyListGivesEmptyMap) { EXPECT_TRUE(ParsePrimitiveStates({}, kKnown).empty()); }

TEST(PrimitiveStatesParse, ValueTyping) {
  EXPECT_EQ(ValueOf("007"), Value(int32_t{7}));
  EXPECT_EQ(ValueOf("-0"), Value(int32_t{0}));
  EXPECT_EQ(ValueOf("-42"), Value(int32_t{-42}));
  EXPECT_EQ(ValueOf("2147483647"), Value(int32_t{2147483647}));
  EXPECT_EQ(ValueOf("+5"), Value(5.0));
  EXPECT_EQ(ValueOf("1e3"), Value(1000.0));
  EXPECT_EQ(ValueOf(".5"), Value(0.5));
  EXPECT_EQ(ValueOf("1.5abc"), Value(std::string("1.5abc")));
  EXPECT_EQ(ValueOf("true"), Value(std::string("true")));
  EXPECT_EQ(ValueOf(""), Value(std::string()));
  EXPECT_EQ(ValueOf("   "), Value(std::string()));
  EXPECT_EQ(ValueOf("Move L"), Value(std::string("Move")));
  EXPECT_EQ(ValueOf("  12 apples"), Value(int32_t{12}));
}

TEST(PrimitiveStatesParse, IntegerConversionErrorsPropagate) {
  EXPECT_THROW(ValueOf("-"), std::invalid_argument);
  EXPECT_THROW(ValueOf("2147483648"), std::out_of_range);
  EXPECT_THROW(ValueOf("-99999999999"), std::out_of_range);
}

TEST(PrimitiveStatesParse, NameDropsTheCharacterBeforeTheEqualsSign) {
  const auto r = ParsePrimitiveStates({"jointGroup = 3", "primitiveName = P", "a=1", "long name = x"}, kKnown);
  const auto& v = r.at(JointGroup::ARM_1).names_and_values;
  EXPECT_EQ(v.count(""), 1u);
  EXPECT_EQ(v.count("long name"), 1u);
  // so "jointGroup=3" names "jointGrou" and the group lacks its marker name
  ExpectError({"jointGroup=3", "primitiveName = P"},
              "Malformed primitive states: jointGroup or primitiveName missing");
}

TEST(PrimitiveStatesParse, FirstValueOfARepeatedNameWins) {
  const auto r = ParsePrimitiveStates({"jointGroup = 3", "primitiveName = P", "x = 1", "x = 2"}, kKnown);
  EXPECT_EQ(r.at(JointGroup::ARM_1).names_and_values.at("x"), Value(int32_t{1}));
}

TEST(PrimitiveStatesParse, Errors) {
  ExpectError({"primitiveName = P"}, "Malformed primitive states: missing jointGroup marker");
  ExpectError({"jointGroup = 3", "x"}, "Malformed primitive state entry");
  ExpectError({"jointGroup = 3", "=x"}, "Malformed primitive state entry");
  ExpectError({"jointGroup"}, "Malformed primitive state entry");
  ExpectError({"jointGroup = 5", "primitiveName = P"}, "Received primitive states for unknown joint group");
  ExpectError({"jointGroup = 3", "primitiveName = P", "jointGroup = 3", "primitiveName = Q"},
              "Duplicate primitive states for a joint group");
  ExpectError({"jointGroup = 3"}, "Malformed primitive states: jointGroup or primitiveName missing");
  ExpectError({"jointGroupX = 4", "jointGroup = 3", "primitiveName = P"},
              "Malformed primitive states: jointGroup or primitiveName missing");
}

TEST(PrimitiveStatesParse, WrongKindsOfMarkerAndName) {
  // the marker must hold an integer and the name text
  EXPECT_THROW(ParsePrimitiveStates({"jointGroup = 3", "primitiveName = 12"}, kKnown), std::bad_variant_access);
  try {
    ParsePrimitiveStates({"jointGroup = 3", "primitiveName = 1.5"}, kKnown);
    ADD_FAILURE();
  } catch (const std::bad_variant_access& e) {
    EXPECT_STREQ(e.what(), "std::get: wrong index for variant");
  }
  EXPECT_THROW(ParsePrimitiveStates({"jointGroup = abc", "primitiveName = P"}, kKnown), std::invalid_argument);
}

TEST(PrimitiveStatesParse, MarkerIsGroupedLenientlyButTypedStrictly) {
  // the marker's text converts leniently ("3x" is 3) but its typed value is text
  EXPECT_THROW(ParsePrimitiveStates({"jointGroup = 3x", "primitiveName = P"}, kKnown), std::bad_variant_access);
  EXPECT_THROW(ParsePrimitiveStates({"jointGroup = +3", "primitiveName = P"}, kKnown), std::bad_variant_access);
  // a marker whose name is not exactly "jointGroup" leaves its group without one
  ExpectError({"jointGroupZ = 3", "primitiveName = P"},
              "Malformed primitive states: jointGroup or primitiveName missing");
}

}  // namespace
}  // namespace norvik::tarn
