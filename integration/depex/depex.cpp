#include "integration/depex/depex.h"

#include <cstdio>

#include "bridge/pi_i2c.h"
#include "platform/protocols.h"

namespace depex {

namespace {

constexpr size_t guid_bytes = 16;

bool takes_guid(op code) { return code == op::push || code == op::before || code == op::after; }

void put_le(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
}

uint32_t get_le(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) {
    v = (v << 8) | p[i];
  }
  return v;
}

const char* name_of(op code) {
  switch (code) {
    case op::before:
      return "BEFORE";
    case op::after:
      return "AFTER";
    case op::push:
      return "PUSH";
    case op::and_:
      return "AND";
    case op::or_:
      return "OR";
    case op::not_:
      return "NOT";
    case op::true_:
      return "TRUE";
    case op::false_:
      return "FALSE";
    case op::end:
      return "END";
    case op::sor:
      return "SOR";
  }
  return "?";
}

}  // namespace

std::vector<instruction> driver_expression() {
  return {{op::push, EFI_ZELT_I2C_PROTOCOL_GUID}, {op::push, EFI_KORM_PROTOCOL_GUID}, {op::and_, {}}, {op::end, {}}};
}

std::vector<instruction> bridge_expression(bool io_mode) {
  return {{op::push, io_mode ? pi::EFI_I2C_IO_PROTOCOL_GUID : pi::EFI_I2C_MASTER_PROTOCOL_GUID},
          {op::push, pi::EMBEDDED_GPIO_PROTOCOL_GUID},
          {op::and_, {}},
          {op::end, {}}};
}

std::vector<uint8_t> encode(const std::vector<instruction>& program) {
  std::vector<uint8_t> out;
  for (const instruction& in : program) {
    out.push_back(static_cast<uint8_t>(in.code));
    if (takes_guid(in.code)) {
      put_le(out, in.guid.Data1, 4);
      put_le(out, in.guid.Data2, 2);
      put_le(out, in.guid.Data3, 2);
      out.insert(out.end(), in.guid.Data4, in.guid.Data4 + sizeof(in.guid.Data4));
    }
  }
  return out;
}

std::optional<std::vector<instruction>> decode(const std::vector<uint8_t>& bytes, std::string* error) {
  std::vector<instruction> program;
  size_t depth = 0;  // values on the evaluation stack
  size_t i = 0;
  auto fail = [&](const std::string& why) {
    *error = why + " at byte " + std::to_string(i);
    return std::nullopt;
  };
  while (i < bytes.size()) {
    const uint8_t b = bytes[i];
    if (b > static_cast<uint8_t>(op::sor)) {
      return fail("unknown opcode " + std::to_string(b));
    }
    instruction in;
    in.code = static_cast<op>(b);
    if (takes_guid(in.code)) {
      if (bytes.size() - i - 1 < guid_bytes) {
        return fail("GUID cut short");
      }
      const uint8_t* g = &bytes[i + 1];
      in.guid.Data1 = get_le(g, 4);
      in.guid.Data2 = static_cast<UINT16>(get_le(g + 4, 2));
      in.guid.Data3 = static_cast<UINT16>(get_le(g + 6, 2));
      for (size_t k = 0; k < sizeof(in.guid.Data4); ++k) {
        in.guid.Data4[k] = g[8 + k];
      }
    }
    switch (in.code) {
      case op::push:
      case op::before:  // BEFORE and AFTER are a whole expression of their own
      case op::after:
      case op::true_:
      case op::false_:
        ++depth;
        break;
      case op::and_:
      case op::or_:
        if (depth < 2) {
          return fail(std::string(name_of(in.code)) + " with fewer than two values");
        }
        --depth;
        break;
      case op::not_:
        if (depth < 1) {
          return fail("NOT without a value");
        }
        break;
      default:
        break;  // END, and SOR, which only marks the driver as scheduled on request
    }
    program.push_back(in);
    i += 1 + (takes_guid(in.code) ? guid_bytes : 0);
    if (in.code == op::end) {
      if (i != bytes.size()) {
        return fail("bytes after END");
      }
      if (depth != 1) {
        return fail("END with " + std::to_string(depth) + " values");
      }
      return program;
    }
  }
  return fail("no END");
}

std::string guid_text(const EFI_GUID& g) {
  char buf[40];
  // 38 characters and the NUL always fit: nothing to check.
  static_cast<void>(std::snprintf(buf, sizeof(buf), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                                  g.Data4[5], g.Data4[6], g.Data4[7]));
  return buf;
}

std::string listing(const std::vector<instruction>& program) {
  std::string out;
  for (const instruction& in : program) {
    out += name_of(in.code);
    if (takes_guid(in.code)) {
      // Two appends: GCC 12 at -O3 takes "literal" + string for an overlapping copy (-Wrestrict).
      out += ' ';
      out += guid_text(in.guid);
    }
    out += "\n";
  }
  return out;
}

}  // namespace depex
