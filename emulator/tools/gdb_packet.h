// The packet layer of GDB's remote serial protocol: what travels on the
// wire between GDB and the debugger stub (gdb_stub.cpp), with no sockets.
//
// A packet is "$" body "#" two hex digits, the sum of the body's bytes modulo
// 256. The receiver answers "+" (taken) or "-" (send it again). A single 0x03
// byte outside a packet asks to interrupt the running program. Binary data
// (the X packet, replies to qXfer) escapes the bytes "#", "$", "}" and "*" as
// "}" followed by the byte xor 0x20.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ridemu::detail::gdb {

// Longest packet body taken from GDB, and announced to it as PacketSize.
constexpr size_t kMaxPacket = 0x4000;

uint8_t checksum(std::string_view body);
// "$" body "#" checksum. The body is sent as given: escape binary data first.
std::string frame(std::string_view body);
std::string escape(std::string_view data);
// False when the data ends inside an escape.
bool unescape(std::string_view data, std::string& out);

// Bytes as two lowercase hex digits each, and back (false on an odd length
// or a character that is not a hex digit).
std::string to_hex(const void* data, size_t n);
bool from_hex(std::string_view hex, std::string& out);
// A hex number of at most 8 digits ("" is not one).
bool parse_u32(std::string_view hex, uint32_t& out);

// Splits the byte stream from GDB into what it says.
class Reader {
 public:
  struct Event {
    enum Kind {
      Packet,     // a whole packet with a good checksum: answer "+"
      BadPacket,  // a bad checksum, or a body too long: answer "-"
      Ack,        // "+"
      Nak,        // "-": send the last packet again
      Interrupt,  // 0x03 outside a packet
    } kind;
    std::string body;  // of a Packet
  };

  void feed(const char* data, size_t n);
  // The events of the bytes fed so far, oldest first; emptied by the call.
  std::vector<Event> take();

 private:
  enum State { Idle, Body, Sum1, Sum2 } state_ = Idle;
  std::string body_;
  bool too_long_ = false;
  char sum_[2] = {0, 0};
  std::vector<Event> events_;
};

}  // namespace ridemu::detail::gdb
