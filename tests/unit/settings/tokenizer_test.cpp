#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings_tokenizer.h"
#include "settings_test_support.h"

namespace corvana {
namespace {
using settings_test::BuildTestDocument;
using settings_test::TestRecord;

// Renders the token the cursor just produced, with the fields its kind sets.
std::string Describe(TokenKind kind, const SettingsCursor& cursor) {
  switch (kind) {
    case TokenKind::kNumber:
      return "N(" + std::string(cursor.token_text) + ")";
    case TokenKind::kString:
      return "S(" + std::string(cursor.value_begin, cursor.value_end) + ")";
    case TokenKind::kEquals:
      return "=";
    case TokenKind::kPunctuation:
      return "P(" + std::string(1, cursor.position[-1]) + ")";
    case TokenKind::kVersionKeyword:
      return "V";
    case TokenKind::kKnownKey:
      return "K(" + cursor.current_entry->key + ")";
    case TokenKind::kSectionHeader:
      return "H(" + cursor.current_section->name_ + ")";
    case TokenKind::kUnrecognizedName:
      return "U(" + std::string(cursor.token_text) + ")";
    default:
      return "?";
  }
}

class TokenizerTest : public ::testing::Test {
 protected:
  void SetUp() override { BuildTestDocument(&document_); }

  // Every token up to End. A stream that never ends fails the test rather
  // than hanging it.
  std::vector<std::string> Tokens(const std::string& text) {
    return Tokens(text.data(), text.size());
  }
  std::vector<std::string> Tokens(const char* text, size_t length) {
    SettingsCursor cursor(text, length);
    std::vector<std::string> tokens;
    for (size_t i = 0; i <= length; ++i) {
      TokenKind kind = NextToken(document_, &cursor);
      EXPECT_LE(cursor.position, cursor.end);
      if (kind == TokenKind::kEnd) {
        EXPECT_EQ(NextToken(document_, &cursor), TokenKind::kEnd)
            << "End is final";
        return tokens;
      }
      tokens.push_back(Describe(kind, cursor));
    }
    ADD_FAILURE() << "no End for: " << std::string(text, length);
    return tokens;
  }

  SettingsDocument<TestRecord> document_{"Test Settings", 1.0};
};

struct TokenCase {
  std::string text;
  std::vector<std::string> tokens;
};

using Tokens = std::vector<std::string>;

TEST_F(TokenizerTest, TokenBoundaries) {
  const std::vector<TokenCase> cases = {
      {"type-schedule", {"U(type)", "N(-)", "U(schedule)"}},
      {"12abc", {"N(12)", "U(abc)"}},
      {",5", {"N(,5)"}},
      {"1.2.3", {"N(1.2.3)"}},
      {"-1,5.", {"N(-1,5.)"}},
      {"--5", {"N(-)", "N(-5)"}},
      {"5-3", {"N(5)", "N(-3)"}},
      {"$x _x", {"U($x)", "U(_x)"}},
      {"9x", {"N(9)", "U(x)"}},
      {"x9$_", {"U(x9$_)"}},
      {"a=b", {"U(a)", "=", "U(b)"}},
      {"a;b", {"U(a)", "P(;)", "U(b)"}},
      {"{}()", {"P({)", "P(})", "P(()", "P())"}},
      {"a/b", {"U(a)", "P(/)", "U(b)"}},
      {"a*b", {"U(a)", "P(*)", "U(b)"}},
      {"a+b", {"U(a)", "P(+)", "U(b)"}},
      {"]", {"P(])"}},
      {"caf\xe9 \xe9", {"U(caf\xe9)", "P(\xe9)"}},
      {std::string("ab\0cd", 5), {"U(ab)", std::string("P(\0)", 4), "U(cd)"}},
      {"a\tb\r\nc \n", {"U(a)", "U(b)", "U(c)"}},
      {"\v", {"P(\v)"}},
      {"", {}},
      {" \r\n\t ", {}},
  };
  for (const TokenCase& c : cases) {
    EXPECT_EQ(Tokens(c.text), c.tokens) << "text: " << c.text;
  }
}

TEST_F(TokenizerTest, CommentsAndBlocks) {
  const std::vector<TokenCase> cases = {
      {"/*+&[Common]*/", {"H(Common)"}},
      {"/* /*+& */[Common]", {"H(Common)"}},
      {"/* a /* b */[Common]", {"H(Common)"}},
      {"*/[Common]", {}},
      {"a */ b", {"U(a)"}},
      {"/* never closed [Common]", {}},
      {"/*/", {}},
      {"/**/x", {"U(x)"}},
      {"// note\n[Common]", {"H(Common)"}},
      {"// note\r[Common]", {"H(Common)"}},
      {"// only", {}},
      {"x// y", {"U(x)"}},
      {"/*+&/*+&[Common]*/*/[Other]", {"H(Common)"}},
      {"/*+&", {}},
      {"/*+", {}},
      {"/*+&x*/y", {"U(x)", "U(y)"}},
      {"/", {"P(/)"}},
      {"*", {"P(*)"}},
      {"/+", {"P(/)", "P(+)"}},
  };
  for (const TokenCase& c : cases) {
    EXPECT_EQ(Tokens(c.text), c.tokens) << "text: " << c.text;
  }
}

TEST_F(TokenizerTest, Strings) {
  const std::vector<TokenCase> cases = {
      {R"("a\"b")", {R"(S(a\"b))"}},
      {R"("a\\" x)", {R"(S(a\\))", "U(x)"}},
      {R"("")", {"S()"}},
      {"\"two\nlines\"", {"S(two\nlines)"}},
      {R"("// not /* a comment */")", {"S(// not /* a comment */)"}},
      {R"("no closing quote)", {}},
      {R"("escaped closing quote\")", {}},
      {R"("backslash at the end\)", {}},
      {R"(x"")", {"U(x)", "S()"}},
  };
  for (const TokenCase& c : cases) {
    EXPECT_EQ(Tokens(c.text), c.tokens) << "text: " << c.text;
  }
}

TEST_F(TokenizerTest, HeadersAndKeys) {
  const std::vector<TokenCase> cases = {
      {"[Common] [common] [COMMON]", {"H(Common)", "H(Common)", "H(Common)"}},
      {"[ Common ]", {"U( Common )"}},
      {"[Unknown]", {"U(Unknown)"}},
      {"[Com\nmon]", {"U(Com\nmon)"}},
      {"[]", {"U()"}},
      {"[Common", {}},
      {"[Common]x", {"H(Common)", "U(x)"}},
      {"enabled [Common] enabled ENABLED [Unknown] enabled",
       {"U(enabled)", "H(Common)", "K(enabled)", "K(enabled)", "U(Unknown)",
        "U(enabled)"}},
      {"[Common] count [Other] count hour",
       {"H(Common)", "U(count)", "H(Other)", "K(count)", "U(hour)"}},
      {"FormatVersion formatversion [Common] FORMATVERSION",
       {"V", "V", "H(Common)", "V"}},
      {"FormatVersions", {"U(FormatVersions)"}},
      {"[Common]\r\nhour=1\r\n", {"H(Common)", "K(hour)", "=", "N(1)"}},
  };
  for (const TokenCase& c : cases) {
    EXPECT_EQ(Tokens(c.text), c.tokens) << "text: " << c.text;
  }
}

TEST_F(TokenizerTest, CursorFieldsFollowTheToken) {
  const std::string text = "  [Other] /* c */ count \"v\" 42 enabled";
  SettingsCursor cursor(text.data(), text.size());
  ASSERT_EQ(NextToken(document_, &cursor), TokenKind::kSectionHeader);
  EXPECT_EQ(cursor.token_start, text.data());
  EXPECT_EQ(cursor.position, text.data() + 9);

  ASSERT_EQ(NextToken(document_, &cursor), TokenKind::kKnownKey);
  EXPECT_EQ(cursor.token_start, text.data() + 9) << "before blanks and comment";
  EXPECT_EQ(cursor.current_entry_index, 0u);
  const SettingsEntry* count_entry = cursor.current_entry;

  ASSERT_EQ(NextToken(document_, &cursor), TokenKind::kString);
  EXPECT_EQ(std::string(cursor.value_begin, cursor.value_end), "v");
  EXPECT_STREQ(cursor.token_text, "count") << "a String leaves the text";

  ASSERT_EQ(NextToken(document_, &cursor), TokenKind::kNumber);
  EXPECT_STREQ(cursor.token_text, "42");
  EXPECT_EQ(std::string(cursor.value_begin, cursor.value_end), "v");

  // An unknown name keeps the entry of the last known key.
  ASSERT_EQ(NextToken(document_, &cursor), TokenKind::kUnrecognizedName);
  EXPECT_EQ(cursor.current_entry, count_entry);
  EXPECT_EQ(NextToken(document_, &cursor), TokenKind::kEnd);
}

TEST_F(TokenizerTest, EntryIndexFollowsDeclarationOrder) {
  const std::string text = "[Common] dt_from NAME type_period";
  SettingsCursor cursor(text.data(), text.size());
  ASSERT_EQ(NextToken(document_, &cursor), TokenKind::kSectionHeader);
  const std::vector<size_t> expected = {5, 0, 4};
  for (size_t index : expected) {
    ASSERT_EQ(NextToken(document_, &cursor), TokenKind::kKnownKey);
    EXPECT_EQ(cursor.current_entry_index, index);
    EXPECT_EQ(cursor.current_entry, &document_.sections_[0]->entries_[index]);
  }
}

TEST_F(TokenizerTest, UnrecognizedHeaderLeavesNoSectionCurrent) {
  const std::string text = "[Common] [Nope] hour";
  SettingsCursor cursor(text.data(), text.size());
  ASSERT_EQ(NextToken(document_, &cursor), TokenKind::kSectionHeader);
  ASSERT_EQ(NextToken(document_, &cursor), TokenKind::kUnrecognizedName);
  EXPECT_EQ(cursor.current_section, nullptr);
  EXPECT_EQ(NextToken(document_, &cursor), TokenKind::kUnrecognizedName);
}

TEST_F(TokenizerTest, LongRunsAreCutAtTheirBounds) {
  struct Case {
    std::string text;
    std::vector<size_t> lengths;  // of each token's text
  };
  const std::vector<Case> cases = {
      {std::string(1024, 'a'), {1024}},
      {std::string(1025, 'a'), {1024, 1}},
      {std::string(65536, 'a'), std::vector<size_t>(64, 1024)},
      {std::string(1030, '7'), {1024, 6}},
      {"-" + std::string(1024, '7'), {1024, 1}},
  };
  for (const Case& c : cases) {
    SettingsCursor cursor(c.text.data(), c.text.size());
    std::vector<size_t> lengths;
    while (NextToken(document_, &cursor) != TokenKind::kEnd) {
      lengths.push_back(std::string(cursor.token_text).size());
      ASSERT_LE(lengths.size(), c.text.size());
    }
    EXPECT_EQ(lengths, c.lengths) << "text of " << c.text.size();
  }
}

TEST_F(TokenizerTest, HeaderNamesAreCutAt1022) {
  const std::string fits = "[" + std::string(1022, 'h') + "]";
  SettingsCursor cursor(fits.data(), fits.size());
  EXPECT_EQ(NextToken(document_, &cursor), TokenKind::kUnrecognizedName);
  EXPECT_EQ(std::string(cursor.token_text), std::string(1022, 'h'));
  EXPECT_EQ(NextToken(document_, &cursor), TokenKind::kEnd);

  // Cut names go on scanning after the cut; all that matters is that the
  // scan stays inside the text and ends.
  const std::string longer = "[" + std::string(5000, 'h') + "]";
  SettingsCursor cut(longer.data(), longer.size());
  EXPECT_EQ(NextToken(document_, &cut), TokenKind::kUnrecognizedName);
  EXPECT_EQ(std::string(cut.token_text).size(), 1022u);
  int guard = 0;
  while (NextToken(document_, &cut) != TokenKind::kEnd) {
    ASSERT_LE(cut.position, cut.end);
    ASSERT_LT(++guard, 100);
  }
}

TEST_F(TokenizerTest, NeverLooksAtOrPastTheEnd) {
  // The text goes on past `end` in memory; reading there would change the
  // answer.
  const std::vector<std::pair<TokenCase, size_t>> cases = {
      {{"*/", {"P(*)"}}, 1}, {{"//\n[Common]", {}}, 3}, {{"\"ab\"", {}}, 3},
      {{"[Common]", {}}, 7}, {{"abc=", {"U(ab)"}}, 2},  {{"-12", {"N(-)"}}, 1},
      {{"\"a\\\"", {}}, 3},
  };
  for (const auto& [c, length] : cases) {
    EXPECT_EQ(Tokens(c.text.data(), length), c.tokens)
        << c.text << " cut at " << length;
  }
}

}  // namespace
}  // namespace corvana
