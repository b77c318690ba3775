// Serial numbers: what is accepted, how it is normalised, what is refused.
#include <gtest/gtest.h>

#include <stdexcept>

#include "client/serial_number.h"

namespace norvik::tarn {
namespace {

void ExpectRejected(const std::string& serial) {
  try {
    NormaliseSerialNumber(serial);
    ADD_FAILURE() << "accepted '" << serial << "'";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "[norvik::tarn::Client] Format of the provided robot serial number is invalid");
  }
}

TEST(SerialNumber, NormalisesBlanksInThePrefix) {
  EXPECT_EQ(NormaliseSerialNumber("Abc 4s-123"), "Abc-4s-123");
  EXPECT_EQ(NormaliseSerialNumber("AB-CD-77"), "AB-CD-77");
  EXPECT_EQ(NormaliseSerialNumber("A B C-x"), "A-B-C-x");
  EXPECT_EQ(NormaliseSerialNumber("a-1"), "a-1");
}

TEST(SerialNumber, SuffixesThatAreSafeInKeysPass) {
  EXPECT_EQ(NormaliseSerialNumber("Rizon4-062068"), "Rizon4-062068");
  EXPECT_EQ(NormaliseSerialNumber("Rizon 4s-a.b+c:d"), "Rizon-4s-a.b+c:d");
}

TEST(SerialNumber, MalformedPrefixesAndSeparators) {
  for (const char* s : {"", "abc", "-123", "abc-", "ab_c-1", "a  b-1", " ab-1", "a.b-1", "a--b-1", "a -1", "ab -1",
                        "a\tb-1"}) {
    ExpectRejected(s);
  }
}

TEST(SerialNumber, SuffixesThatWouldChangeOrBreakAKey) {
  for (const char* s : {"ab-1/**", "ab-*", "ab-1*", "ab-1$", "ab-1#", "ab-1?x", "ab-1 2", "ab-1\n", "ab-\x01", "ab-1\x7f"}) {
    ExpectRejected(s);
  }
}

TEST(SerialNumber, NonAsciiBytesInThePrefixAreRefusedWithoutUndefinedBehaviour) {
  ExpectRejected("\xc3\xa9t\xc3\xa9-1");
}

}  // namespace
}  // namespace norvik::tarn
