// The command window's text rules: how a log entry splits into rows and how received bytes read.
#include <gtest/gtest.h>

#include "services/CommandExchange.h"

using namespace CommandExchange;

TEST(CommandExchange, LogEntrySplitsAtCrLfOnly) {
  const struct {
    std::string Content;
    std::vector<std::string> Rows;
  } cases[] = {
      {"OK\r\n", {"OK"}},
      {"A\r\nB\r\nC", {"A", "B", "C"}},
      {"  A\r\n\r\n B \r\n  C  \r\n", {"A", "", " B ", "C"}},  // inner pieces kept as they are
      {"A\rB\nC", {"A\rB\nC"}},                                 // a lone CR or LF does not split
      {"AT\r", {"AT"}},                                          // the sent line loses its CR
      {"\r", {}},                                                // an empty command: no row
      {"   ", {}},
      {"A\r\n \t ", {"A"}},
  };
  for (const auto& c : cases) EXPECT_EQ(LogLines(c.Content), c.Rows) << c.Content;
}

TEST(CommandExchange, ReceivedBytesReadAsGbkWithInvalidBytesEscaped) {
  const struct {
    std::string Bytes, Shown;
  } cases[] = {
      {"OK\r\n\tX", "OK\r\n\tX"},
      {"\xB5\xE7\xC4\xDC", "\xE7\x94\xB5\xE8\x83\xBD"},        // 电能
      {"A\x80" "B\xFF", "A\\x80B\\xFF"},                         // bytes that are never GBK
      {"\xB5", "\\xB5"},                                         // half a character at the end
      {"\xB5" "A", "\xE7\xA4\x8E"},                              // lead and trail 41H: one character
      {std::string("\x00\x01\x1B\x7F", 4), "\\x00\\x01\\x1B\\x7F"},  // control bytes
  };
  for (const auto& c : cases) {
    const auto* data = reinterpret_cast<const uint8_t*>(c.Bytes.data());
    EXPECT_EQ(BytesToDisplay(data, c.Bytes.size()), c.Shown);
  }
}

TEST(CommandExchange, CommandLineAndRowContent) {
  EXPECT_EQ(CommandLine("  AT  "), "AT\r");
  EXPECT_EQ(CommandLine(""), "\r");
  TTextReply reply;
  reply.Reply = "AAA";
  EXPECT_EQ(reply.Content(), "AAA");
  reply.Cut = true;
  EXPECT_EQ(LogLines(reply.Content()).size(), 2u) << "the last row says the answer was cut";
  reply.Error = "E";
  EXPECT_EQ(reply.Content(), "E");
}
