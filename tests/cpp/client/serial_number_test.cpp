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

// A key is UTF-8 text: a suffix that is not could reach no robot, and used to
// end in an error with no text when the key was made.
TEST(SerialNumber, SuffixesMustBeUtf8) {
  EXPECT_EQ(NormaliseSerialNumber("ab-\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"), "ab-\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
  for (const char* s : {"ab-\xff", "ab-1\xc3", "ab-\xc3(", "ab-\xc0\xaf", "ab-\xed\xa0\x80", "ab-\xf4\x90\x80\x80",
                        "ab-\x80"}) {
    ExpectRejected(s);
  }
}

}  // namespace
}  // namespace norvik::tarn
