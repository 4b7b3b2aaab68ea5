// The link's framing and list parsers on bytes from memory: headers, acknowledgements, payload
// reception, and the break-point, entry and selector forms.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "debuglink/wire.h"

namespace {
struct Pipe {
  std::string in;   // what the peer sends
  size_t pos = 0;
  std::string out;  // what was written to the peer
  int pauses = 0;
};
int p_wait(void* c, bool write, int) { return write || static_cast<Pipe*>(c)->pos < static_cast<Pipe*>(c)->in.size(); }
long p_recv(void* c, char* b, size_t n) {
  auto* p = static_cast<Pipe*>(c);
  size_t k = std::min(n, p->in.size() - p->pos);
  std::memcpy(b, p->in.data() + p->pos, k);
  p->pos += k;
  return static_cast<long>(k);
}
long p_send(void* c, const char* b, size_t n) {
  static_cast<Pipe*>(c)->out.append(b, n);
  return static_cast<long>(n);
}
void p_pause(void* c, int) { static_cast<Pipe*>(c)->pauses++; }

std::string header(size_t n) {
  char h[WIRE_HEADER_MAX];
  return std::string(h, static_cast<size_t>(wire_header(n, h)));
}
}  // namespace

TEST(Wire, HeadersCarryTheDigitCount) {
  EXPECT_EQ(header(0), "B0");
  EXPECT_EQ(header(5), "B5");
  EXPECT_EQ(header(12), "C12");
  EXPECT_EQ(header(16384), "F16384");
  EXPECT_EQ(header(999999999), "J999999999");
}

TEST(Wire, SendWaitsForTheAcknowledgementOfThePayloadLength) {
  Pipe p;
  p.in = "B5";
  LinkIo io{p_wait, p_recv, p_send, p_pause, &p};
  EXPECT_EQ(wire_send(&io, "Dabcd", 5), nullptr);
  EXPECT_EQ(p.out, "B5Dabcd");
  Pipe wrong;
  wrong.in = "B4";
  LinkIo io2{p_wait, p_recv, p_send, p_pause, &wrong};
  EXPECT_STREQ(wire_send(&io2, "Dabcd", 5), "receive socket error\n");
  Pipe silent;
  LinkIo io3{p_wait, p_recv, p_send, p_pause, &silent};
  EXPECT_STREQ(wire_send(&io3, "X", 1), "receive socket error\n");
}

TEST(Wire, ReceiveAcknowledgesAndRefusesMalformedNumbers) {
  Pipe p;
  p.in = "C11Ea.js:f:0:;B0";
  LinkIo io{p_wait, p_recv, p_send, p_pause, &p};
  LinkMessage m{nullptr, 0, 0};
  ASSERT_EQ(wire_receive(&io, &m, 0), nullptr);
  EXPECT_EQ(std::string(m.data, m.len), "Ea.js:f:0:;");
  ASSERT_EQ(wire_receive(&io, &m, 0), nullptr);
  EXPECT_EQ(m.len, 0u);
  EXPECT_EQ(p.out, "C11B0");
  for (const char* bad : {"Z1", "C1x", "", "K1234567890"}) {
    Pipe q;
    q.in = bad;
    LinkIo iq{p_wait, p_recv, p_send, p_pause, &q};
    EXPECT_STREQ(wire_receive(&iq, &m, 0), "recv error\n") << bad;
  }
  message_free(&m);
}

TEST(Wire, AShortPayloadFailsAfterItsRoundBudget) {
  Pipe p;
  p.in = "C50abc";
  LinkIo io{p_wait, p_recv, p_send, p_pause, &p};
  LinkMessage m{nullptr, 0, 0};
  EXPECT_STREQ(wire_receive(&io, &m, 0), "recv error\n");
  // 120,000 ms in rounds of 50 ms, one of them reading.
  EXPECT_EQ(p.pauses, PAYLOAD_BUDGET_MS / ROUND_MS - 1);
  EXPECT_LT(m.cap, 64u);   // the lying length reserved nothing beyond what arrived
  message_free(&m);
}

TEST(Wire, Lists) {
  uint16_t lines[8];
  std::string t = "3:x:0:65535:65536::12:";
  size_t n = parse_line_list(Span{t.data(), t.size()}, lines, 8);
  ASSERT_EQ(n, 3u);
  EXPECT_EQ(lines[0], 3);
  EXPECT_EQ(lines[1], 65535);
  EXPECT_EQ(lines[2], 12);

  std::string e = "4:x == \";\";junk;9:y;";
  Span all{e.data(), e.size()};
  size_t pos = 0;
  uint16_t line;
  Span text;
  ASSERT_TRUE(next_entry(all, &pos, &line, &text));
  EXPECT_EQ(line, 4);
  EXPECT_EQ(std::string(text.p, text.n), "x == \";\"");
  ASSERT_TRUE(next_entry(all, &pos, &line, &text));
  EXPECT_EQ(line, 0);   // "junk" has no line
  ASSERT_TRUE(next_entry(all, &pos, &line, &text));
  EXPECT_EQ(line, 9);
  EXPECT_EQ(std::string(text.p, text.n), "y");
  EXPECT_FALSE(next_entry(all, &pos, &line, &text));

  Span name, rest;
  std::string b = "lib/a.js:1:2:";
  split_module(b.data(), b.size(), &name, &rest);
  EXPECT_EQ(std::string(name.p, name.n), "lib/a.js");
  EXPECT_EQ(std::string(rest.p, rest.n), "1:2:");
}

TEST(Wire, Selectors) {
  Selector s;
  std::string a = "a.js:main:1:;x + 1";
  ASSERT_EQ(parse_selector(a.data(), a.size(), &s), 0);
  EXPECT_TRUE(s.given);
  EXPECT_EQ(std::string(s.module.p, s.module.n), "a.js");
  EXPECT_EQ(std::string(s.function.p, s.function.n), "main");
  EXPECT_EQ(s.depth, 1);
  EXPECT_EQ(std::string(s.expr.p, s.expr.n), "x + 1");
  std::string b = ";1;2";
  ASSERT_EQ(parse_selector(b.data(), b.size(), &s), 0);
  EXPECT_FALSE(s.given);
  EXPECT_EQ(std::string(s.expr.p, s.expr.n), "1;2");
  for (const char* bad : {"a.js:main:x:;1", "a.js:main:1;1", "a:b:c:d:;1", "a.js::;1", "a.js:f::;1"}) {
    EXPECT_EQ(parse_selector(bad, std::strlen(bad), &s), -2) << bad;
  }
  EXPECT_EQ(parse_selector("1+1", 3, &s), -1);
}
