// The packet layer of GDB's remote serial protocol (see gdb_packet.h).
#include "gdb_packet.h"

namespace ridemu::detail::gdb {
namespace {

const char kDigits[] = "0123456789abcdef";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool needs_escape(char c) { return c == '#' || c == '$' || c == '}' || c == '*'; }

}  // namespace

uint8_t checksum(std::string_view body) {
  uint8_t sum = 0;
  for (char c : body) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  return sum;
}

std::string frame(std::string_view body) {
  const uint8_t sum = checksum(body);
  std::string out;
  out.reserve(body.size() + 4);
  out += '$';
  out += body;
  out += '#';
  out += kDigits[sum >> 4];
  out += kDigits[sum & 15];
  return out;
}

std::string escape(std::string_view data) {
  std::string out;
  out.reserve(data.size());
  for (char c : data) {
    if (needs_escape(c)) {
      out += '}';
      out += static_cast<char>(c ^ 0x20);
    } else {
      out += c;
    }
  }
  return out;
}

bool unescape(std::string_view data, std::string& out) {
  out.clear();
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] != '}') {
      out += data[i];
      continue;
    }
    if (++i == data.size()) return false;
    out += static_cast<char>(data[i] ^ 0x20);
  }
  return true;
}

std::string to_hex(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  std::string out;
  out.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

bool from_hex(std::string_view hex, std::string& out) {
  out.clear();
  if (hex.size() % 2) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = hex_value(hex[i]), lo = hex_value(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi << 4 | lo);
  }
  return true;
}

bool parse_u32(std::string_view hex, uint32_t& out) {
  if (hex.empty() || hex.size() > 8) return false;
  uint32_t v = 0;
  for (char c : hex) {
    const int d = hex_value(c);
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  out = v;
  return true;
}

void Reader::feed(const char* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const char c = data[i];
    switch (state_) {
      case Idle:
        // Anything else between packets is line noise.
        if (c == '$') {
          body_.clear();
          too_long_ = false;
          state_ = Body;
        } else if (c == '+') {
          events_.push_back({Event::Ack, {}});
        } else if (c == '-') {
          events_.push_back({Event::Nak, {}});
        } else if (c == '\x03') {
          events_.push_back({Event::Interrupt, {}});
        }
        break;
      case Body:
        if (c == '#') {
          state_ = Sum1;
        } else if (c == '$') {
          // A packet cut short: the new one counts, the old one is answered.
          events_.push_back({Event::BadPacket, {}});
          body_.clear();
          too_long_ = false;
        } else if (body_.size() < kMaxPacket) {
          body_ += c;
        } else {
          too_long_ = true;  // read to its end, then refused
        }
        break;
      case Sum1:
        sum_[0] = c;
        state_ = Sum2;
        break;
      case Sum2: {
        sum_[1] = c;
        state_ = Idle;
        const int hi = hex_value(sum_[0]), lo = hex_value(sum_[1]);
        if (too_long_ || hi < 0 || lo < 0 || (hi << 4 | lo) != checksum(body_)) {
          events_.push_back({Event::BadPacket, {}});
        } else {
          events_.push_back({Event::Packet, std::move(body_)});
        }
        body_.clear();
        break;
      }
    }
  }
}

std::vector<Reader::Event> Reader::take() {
  std::vector<Reader::Event> out;
  out.swap(events_);
  return out;
}

}  // namespace ridemu::detail::gdb
