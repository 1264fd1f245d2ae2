// The broker's address as a user writes it, one reading as JSON, and the backlog that holds the
// readings while the broker is away.
#include <gtest/gtest.h>

#include "services/MqttMessage.h"

TEST(MqttUrl, TakesTheFormsUsersWrite) {
  struct TCase {
    const char* Text;
    TMqttUrl Url;
  } cases[] = {
      {"mqtt://127.0.0.1:1883/meters", {"127.0.0.1", 1883, "", "", "meters"}},
      {"MQTT://broker.example/site/line-3/", {"broker.example", 1883, "", "", "site/line-3"}},
      {"mqtt://[::1]:8883/p", {"::1", 8883, "", "", "p"}},
      {"mqtt://[fe80::1]/p", {"fe80::1", 1883, "", "", "p"}},
      {"mqtt://reader@h:1/电表", {"h", 1, "reader", "", "电表"}},
      {"mqtt://user:p%40ss%2fw%3A@h:65535/p", {"h", 65535, "user", "p@ss/w:", "p"}},
  };
  for (const TCase& c : cases) {
    TMqttUrl url;
    std::string error;
    EXPECT_TRUE(ParseMqttUrl(c.Text, url, error)) << c.Text << ": " << error;
    EXPECT_EQ(url, c.Url) << c.Text;
    EXPECT_TRUE(error.empty());
  }
  TMqttUrl url{"h", 1, "user", "p@ss/w:", "a/b"};
  EXPECT_EQ(FormatMqttUrl(url), "mqtt://user:p%40ss%2Fw%3A@h:1/a/b");
  EXPECT_EQ(MqttServerText({"::1", 8883, "u", "secret", "p"}), "[::1]:8883");
}

TEST(MqttUrl, NamesWhatIsWrong) {
  struct TCase {
    const char* Text;
    const char* Why;
  } cases[] = {
      {"127.0.0.1:1883/p", "应以mqtt://开头"},
      {"mqtts://h/p", "不支持“mqtts://”，只能用mqtt://"},
      {"mqtt://h:1883", "缺少主题前缀（应为mqtt://主机:端口/主题前缀）"},
      {"mqtt://h:1883///", "缺少主题前缀（应为mqtt://主机:端口/主题前缀）"},
      {"mqtt:///p", "缺少主机名或地址"},
      {"mqtt://h:/p", "端口号“”应为1到65535之间的数字"},
      {"mqtt://h:65536/p", "端口号“65536”应为1到65535之间的数字"},
      {"mqtt://h:1:2/p", "端口号“1:2”应为1到65535之间的数字"},
      {"mqtt://h t/p", "主机名或地址“h t”含有无效字符"},
      {"mqtt://[::1/p", "IPv6地址缺少“]”"},
      {"mqtt://[::1]x/p", "“]”后应为“:端口”"},
      {"mqtt://[abc]/p", "方括号内应为IPv6地址"},
      {"mqtt://h/site/+/x", "主题前缀不能含有通配符“+”或“#”"},
      {"mqtt://h/site/#", "主题前缀不能含有通配符“+”或“#”"},
      {"mqtt://h/a\tb", "主题前缀含有控制字符或无效的UTF-8文字"},
      {"mqtt://h/\xD6\xD0", "主题前缀含有控制字符或无效的UTF-8文字"},  // GBK, not UTF-8
      {"mqtt://:pw@h/p", "“@”前缺少用户名"},
      {"mqtt://u%4@h/p", "用户名或密码中的“%”后应为两位十六进制数字"},
      {"mqtt://u:%00@h/p", "用户名或密码含有控制字符或无效的UTF-8文字"},
  };
  for (const TCase& c : cases) {
    TMqttUrl url;
    std::string error;
    EXPECT_FALSE(ParseMqttUrl(c.Text, url, error)) << c.Text;
    EXPECT_EQ(error, "MQTT地址“" + std::string(c.Text) + "”无效：" + c.Why + "！");
    EXPECT_EQ(url, TMqttUrl());
  }
  TMqttUrl url;
  std::string error;
  EXPECT_FALSE(ParseMqttUrl("mqtt://h/" + std::string(1025, 'a'), url, error));
  EXPECT_NE(error.find("主题前缀太长（最多1024字节）"), std::string::npos);
}

TEST(MqttJson, EscapesTextAndKeepsItUtf8) {
  struct TCase {
    std::string Text, Json;
  } cases[] = {
      {"", "\"\""},
      {"a\"b\\c/", "\"a\\\"b\\\\c/\""},
      {"\r\n\t\x01\x1F\x7F", "\"\\u000D\\u000A\\u0009\\u0001\\u001F\\u007F\""},
      {"A相电压 kWh ∑ 😀", "\"A相电压 kWh ∑ 😀\""},
      {"x\xFFy", "\"x\xEF\xBF\xBDy\""},                              // a byte that is no character
      {"\xE4\xB8", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                  // a character cut short
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                  // an overlong '/'
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
      {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // above U+10FFFF
      {std::string("a\0b", 3), "\"a\\u0000b\""},
  };
  for (const TCase& c : cases) EXPECT_EQ(JsonString(c.Text), c.Json) << c.Text;
}

TEST(MqttJson, OneReadingOnItsTopic) {
  TMqttReading reading{"2026-12-09T20:48:31.123+08:00", "000000000001", "00010000", "(当前)正向有功总电量",
                       "00123456", "1234.56", "kWh", "12.345", "ok"};
  EXPECT_EQ(ReadingTopic("site/a", reading), "site/a/000000000001/00010000");
  EXPECT_EQ(ReadingJson(reading),
            "{\"time\":\"2026-12-09T20:48:31.123+08:00\",\"address\":\"000000000001\",\"identifier\":\"00010000\","
            "\"name\":\"(当前)正向有功总电量\",\"raw_value\":\"00123456\",\"reading\":\"1234.56\",\"unit\":\"kWh\","
            "\"round_trip_ms\":12.345,\"outcome\":\"ok\"}");
  TMqttReading timeout{"2026-12-09T20:48:31.123+08:00", "000000000001", "02010100", "A相电压", "", "", "", "",
                       "send failed: 端口\"x\"已关闭"};
  EXPECT_EQ(ReadingJson(timeout),
            "{\"time\":\"2026-12-09T20:48:31.123+08:00\",\"address\":\"000000000001\",\"identifier\":\"02010100\","
            "\"name\":\"A相电压\",\"raw_value\":\"\",\"reading\":\"\",\"unit\":\"\",\"round_trip_ms\":null,"
            "\"outcome\":\"send failed: 端口\\\"x\\\"已关闭\"}");
}

TEST(MqttBacklog, TheOldestGivesWayAndEveryLossIsCounted) {
  TMqttBacklog backlog(3);
  for (int i = 1; i <= 5; ++i) backlog.Push({"t", std::to_string(i)});
  EXPECT_EQ(backlog.Size(), 3u);
  EXPECT_EQ(backlog.Dropped(), 2);
  EXPECT_EQ(backlog.Front().Payload, "3");
  TMqttMessage taken = backlog.Front();
  backlog.PopFront();
  backlog.PushFront(taken);  // handed back while there is room: first again
  EXPECT_EQ(backlog.Front().Payload, "3");
  backlog.PopFront();
  backlog.Push({"t", "6"});
  backlog.PushFront(taken);  // full meanwhile: the oldest, so it is the one dropped
  EXPECT_EQ(backlog.Dropped(), 3);
  EXPECT_EQ(backlog.Front().Payload, "4");
  backlog.DropAll();
  EXPECT_TRUE(backlog.Empty());
  EXPECT_EQ(backlog.Dropped(), 6);
}
