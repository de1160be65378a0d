// Splitting, field extraction, integer conversion and the string hash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>

#include "hashutils.h"
#include "strarray.h"
#include "stringutils.h"

using Pieces = std::vector<std::string>;

TEST(SplitString, KnownSplits) {
  struct Case {
    std::string text, delim;
    char quote;
    int min;
    Pieces want;
  } cases[] = {
      {"a,b,,c", ",", '"', 0, {"a", "b", "", "c"}},
      {"a,", ",", '"', 0, {"a", ""}},
      {",a", ",", '"', 0, {"", "a"}},
      {"", ",", '"', 0, {}},
      {"", ",", '"', 3, {"", "", ""}},
      {"a", ",", '"', 3, {"a", "", ""}},
      {"x,\"y,z\",w", ",", '"', 0, {"x", "\"y,z\"", "w"}},
      {"abc", "", '"', 0, {"abc"}},
      {"", "", '"', 2, {"", ""}},
      {"one::two::", "::", '"', 0, {"one", "two", ""}},
      {"a::b", "::", '"', 5, {"a", "b", "", "", ""}},
      // A delimiter that overlaps itself: the piece between the two matches
      // has a negative length and must come out empty, not as the tail.
      {"aaa", "aa", '"', 0, {"", "", ""}},
      // A quote that never closes keeps the rest in one piece.
      {"a,\"b,c", ",", '"', 0, {"a", "\"b,c"}},
      // 1,2,3 of a stored device mode.
      {"1,2,3", ",", '\0', 0, {"1", "2", "3"}},
      {"lib.so:3", ":", '"', 0, {"lib.so", "3"}},
  };
  for (const Case& c : cases) {
    Pieces got;
    got.push_back("stale");  // the out array is replaced, not appended to
    SplitString(c.text, c.delim, c.min, got, c.quote);
    EXPECT_EQ(got, c.want) << "text '" << c.text << "' delimiter '" << c.delim << "'";
    EXPECT_EQ(SplitStringArray(c.text, c.delim, c.quote, c.min), c.want);
  }
}

// Without quotes in the text, joining the pieces with the delimiter gives the
// text back, and the piece count is the delimiter count + 1.
TEST(SplitString, JoinGivesTextBackOnRandomText) {
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    int n = static_cast<int>(rng() % 20);
    for (int i = 0; i < n; ++i) text += "ab;"[rng() % 3];
    Pieces got = SplitStringArray(text, ";", '"', 0);
    if (text.empty()) {
      EXPECT_TRUE(got.empty());
      continue;
    }
    std::string joined;
    for (size_t i = 0; i < got.size(); ++i) joined += (i ? ";" : "") + got[i];
    EXPECT_EQ(joined, text);
    EXPECT_EQ(got.size(), static_cast<size_t>(std::count(text.begin(), text.end(), ';')) + 1);
  }
}

TEST(ExtractField, KnownFields) {
  struct Case {
    std::string text;
    char sep;
    int n;
    char quote;
    bool useQuotes;
    std::string want;
  } cases[] = {
      {"a;b;c", ';', 1, '"', true, "a"},
      {"a;b;c", ';', 2, '"', true, "b"},
      {"a;b;c", ';', 3, '"', true, "c"},
      {"a;b;c", ';', 4, '"', true, ""},
      {"a;b;c", ';', 0, '"', true, ""},
      {"a;b;c", ';', -3, '"', true, ""},
      {"", ';', 1, '"', true, ""},
      {";x", ';', 1, '"', true, ""},
      {";x", ';', 2, '"', true, "x"},
      {"a;", ';', 2, '"', true, ""},
      // Quotes suspend the separator and stay in the field.
      {"\"a b\" c", ' ', 1, '"', true, "\"a b\""},
      {"\"a b\" c", ' ', 2, '"', true, "c"},
      // Without the quote flag the quote is an ordinary character.
      {"\"a b\" c", ' ', 1, '"', false, "\"a"},
      // A quote character that equals the separator is never a separator.
      {"a;b", ';', 1, ';', true, "a;b"},
      // A Netpbm header line split at blanks with a comment in quotes.
      {"P6 \"# a b\" 3 2 255", ' ', 3, '"', true, "3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractField(c.text, c.sep, c.n, c.quote, c.useQuotes), c.want)
        << "text '" << c.text << "' n " << c.n;
    std::string out = "stale";
    ExtractField(c.text, c.sep, c.n, out, c.quote, c.useQuotes);
    EXPECT_EQ(out, c.want);
  }
}

TEST(CopyFromPosition, NeverGivesTheTailForBadLengths) {
  EXPECT_EQ(CopyFromPosition("hello", 2, 3), "ell");
  EXPECT_EQ(CopyFromPosition("hello", 2, -1), "");
  EXPECT_EQ(CopyFromPosition("hello", 2, 0), "");
  EXPECT_EQ(CopyFromPosition("hello", 6, 1), "");
  EXPECT_EQ(CopyFromPosition("hello", 4, 100), "lo");
  EXPECT_EQ(CopyFromPosition("hello", 0, 2), "h");
}

TEST(StrToIntDef, AcceptsWhatTheSettingsAccept) {
  struct Case {
    std::string text;
    int32_t want;
  } cases[] = {
      {"12", 12},
      {"-12", -12},
      {"+7", 7},
      {"  42", 42},
      {"\t-3", -3},
      {"$1F", 31},
      {"$ff", 255},
      {"0x10", 16},
      {"-$10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"007", 7},
      // Everything below falls back to the default.
      {"12abc", -99},
      {"12 ", -99},
      {"", -99},
      {" ", -99},
      {"-", -99},
      {"$", -99},
      {"2147483648", -99},
      {"-2147483649", -99},
      {"99999999999999999999999", -99},
      {"$80000000", -99},
      {"1.5", -99},
      {"1e3", -99},
      {"abc", -99},
  };
  for (const Case& c : cases) EXPECT_EQ(StrToIntDef(c.text, -99), c.want) << "'" << c.text << "'";
}

TEST(StringHash, KnownAnswers) {
  // The worked example: "3abc" + six 0xFF bytes.
  EXPECT_EQ(static_cast<uint32_t>(StringHash("abc")), 0x63FEFC31u);
  // The empty text hashes the digit 0 and the padding: words "0\xFF\xFF\xFF",
  // "\xFF\xFF\xFF\xFF" and "\xFF\xFF\xFF\xFF" XOR to 0xFFFFFF30.
  EXPECT_EQ(static_cast<uint32_t>(StringHash("")), 0xFFFFFF30u);
  // Independent reference over every length up to 40.
  for (int len = 0; len <= 40; ++len) {
    std::string s;
    for (int i = 0; i < len; ++i) s += static_cast<char>('A' + (i * 7) % 26);
    std::string t = std::to_string(len) + s + std::string(3, '\xFF');
    size_t k = t.size() / 4 - 1;
    t += std::string(3, '\xFF');
    auto word = [&](size_t o) {
      uint32_t w = 0;
      for (int b = 3; b >= 0; --b) w = (w << 8) | static_cast<unsigned char>(t[o + static_cast<size_t>(b)]);
      return w;
    };
    uint32_t h = 0;
    for (int off : {0, 1, 3})
      for (size_t i = 0; i <= k; ++i) h ^= word(4 * i + static_cast<size_t>(off));
    EXPECT_EQ(static_cast<uint32_t>(StringHash(s)), h) << "length " << len;
  }
  // High bytes are unsigned.
  EXPECT_NE(StringHash("\xFF\xFE"), StringHash("\x7F\x7E"));
}
