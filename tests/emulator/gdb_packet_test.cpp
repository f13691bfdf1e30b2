// The debugger stub's packet layer on its own: framing, checksums, escapes,
// and what the reader makes of good, bad, cut and noisy input.
#include <gtest/gtest.h>

#include "tools/gdb_packet.h"

namespace {

using namespace ridemu::detail::gdb;
using namespace std::string_literals;

// The reader's events in one line: "P:body" for a packet, B bad packet,
// + ack, - nak, ^C interrupt.
std::string events(Reader& r) {
  static const char* const kinds[] = {"P:", "B", "+", "-", "^C"};  // in the order of Event::Kind
  std::string out;
  for (const auto& e : r.take()) out += (out.empty() ? "" : " ") + (kinds[e.kind] + (e.kind == Reader::Event::Packet ? e.body : ""));
  return out;
}

TEST(GdbPacket, ReaderSplitsTheStream) {
  const std::string too_long = "$" + std::string(kMaxPacket + 1, 'a') + "#00";
  const std::string longest = std::string(kMaxPacket, 'a');
  const struct {
    std::string in, want;
  } cases[] = {
      {"$g#67", "P:g"},
      {"+$m400000,4#f1-", "+ P:m400000,4 -"},
      {"$g#68", "B"},                   // wrong sum
      {"$g#6", ""},                     // cut: waits for the rest
      {"$g#zz$?#3f", "B P:?"},          // a sum that is no hex number
      {"$#00", "P:"},                   // empty body
      {"$abc$?#3f", "B P:?"},           // a packet cut short by the next one
      {"noise\xff\x00$?#3f"s, "P:?"},   // bytes between packets are ignored
      {"\x03$c#63\x03", "^C P:c ^C"},   // an interrupt outside packets only
      {"$a\x03" "b#c6", "P:a\x03" "b"}, // ... inside one it is data
      {"$X0,1:}]#F9", "P:X0,1:}]"},     // escapes are left to the command
      {too_long, "B"},
      {"$ab###$?#3f", "B P:?"},         // three "#" end whatever packet was open
      {"$" + longest + "#" + frame(longest).substr(longest.size() + 2), "P:" + longest},
  };
  for (const auto& c : cases) {
    Reader whole;
    whole.feed(c.in.data(), c.in.size());
    EXPECT_EQ(events(whole), c.want) << c.in.substr(0, 40);
    Reader bytewise;  // the same, however the bytes arrive
    std::string got;
    for (char ch : c.in) {
      bytewise.feed(&ch, 1);
      const std::string e = events(bytewise);
      if (!e.empty()) got += (got.empty() ? "" : " ") + e;
    }
    EXPECT_EQ(got, c.want) << c.in.substr(0, 40);
  }
}

TEST(GdbPacket, Encoding) {
  EXPECT_EQ(frame("OK") + frame("") + std::to_string(checksum(std::string(256, '\x01'))), "$OK#9a$#000");
  std::string back, hex;
  EXPECT_EQ(escape("a#$}*\xff"), "a}\x03}\x04}]}\x0a\xff");
  EXPECT_TRUE(unescape("a}\x03}\x04}]}\x0a\xff", back) && back == "a#$}*\xff" && !unescape("ab}", back));  // ends inside one
  EXPECT_TRUE(to_hex("\x00\x7f\xff", 3) == "007fff" && from_hex("007FfFaA", hex) && hex == std::string("\x00\x7f\xff\xaa", 4));
  for (const char* bad : {"0", "0g", "zz", " 1"}) EXPECT_FALSE(from_hex(bad, hex)) << bad;
  for (const auto& [text, value] : std::vector<std::pair<const char*, int64_t>>{
           {"0", 0}, {"ffffffff", 0xffffffff}, {"400000", 0x400000}, {"", -1}, {"100000000", -1}, {"-1", -1}, {"12z", -1}}) {
    uint32_t v = 12345;
    EXPECT_TRUE(parse_u32(text, v) == (value >= 0) && (value < 0 || v == value)) << text;
  }
}

}  // namespace
