#include "platform/log.h"

#include "platform/console.h"
#include "platform/platform.h"

namespace murvane {

constinit log_observer_fn g_log_observer = nullptr;

namespace {

// Names as firmware logs print them, one after another: the warnings by
// their code (0 "Success" to 7), then the errors by their code without the
// top bit (1 to 35). Read by counting terminators: no table of pointers.
constexpr char status_names[] =
    "Success\0Warning Unknown Glyph\0Warning Delete Failure\0Warning Write Failure\0"
    "Warning Buffer Too Small\0Warning Stale Data\0Warning File System\0Warning Reset Required\0"
    "Load Error\0Invalid Parameter\0Unsupported\0Bad Buffer Size\0Buffer Too Small\0Not Ready\0"
    "Device Error\0Write Protected\0Out of Resources\0Volume Corrupt\0Volume Full\0No Media\0"
    "Media changed\0Not Found\0Access Denied\0No Response\0No mapping\0Time out\0Not started\0"
    "Already started\0Aborted\0ICMP Error\0TFTP Error\0Protocol Error\0Incompatible Version\0"
    "Security Violation\0CRC Error\0End of Media\0Reserved (29)\0Reserved (30)\0End of File\0"
    "Invalid Language\0Compromised Data\0IP Address Conflict\0HTTP Error";
constexpr EFI_STATUS warning_name_count = 8;
constexpr EFI_STATUS error_name_count = 36;  // codes 1..35 named

constexpr size_t count_names(const char* names, size_t size) {
  size_t n = 0;
  for (size_t i = 0; i < size; ++i) {
    n += names[i] == '\0' ? 1 : 0;
  }
  return n;
}
static_assert(count_names(status_names, sizeof(status_names)) == warning_name_count + error_name_count - 1);

class out_buffer {
 public:
  out_buffer(char* buf, size_t cap) : buf_(buf), cap_(cap) {}

  // Out of line: the formatter stores a character from several places.
  __attribute__((noinline)) void put(char c) {
    if (len_ + 1 < cap_) {
      buf_[len_++] = c;
    } else {
      cut_ = true;
    }
  }
  void put(const char* s) {
    while (*s != '\0') {
      put(*s++);
    }
  }
  // The digits are produced most significant first, so no buffer is needed
  // to reverse them. A '-' goes after the padding, right before the digits.
  void put_number(uint64_t v, unsigned base, bool upper, size_t width, char pad, bool negative) {
    uint64_t scale = 1;
    size_t n = negative ? 2 : 1;
    while (v / scale >= base) {
      scale *= base;
      ++n;
    }
    for (size_t i = n; i < width; ++i) {
      put(pad);
    }
    if (negative) {
      put('-');
    }
    const char ten = upper ? 'A' : 'a';
    for (; scale != 0; scale /= base) {
      const auto digit = static_cast<char>(v / scale % base);
      put(static_cast<char>(digit < 10 ? '0' + digit : ten + digit - 10));
    }
  }
  size_t finish() {
    if (cap_ == 0) {
      return 0;
    }
    if (cut_) {
      constexpr size_t marker_len = sizeof(log_cut_marker) - 1;
      size_t at = len_ > marker_len ? len_ - marker_len : 0;
      for (size_t i = 0; i < marker_len && at + 1 < cap_; ++i) {
        buf_[at++] = log_cut_marker[i];
      }
      len_ = at;
    }
    buf_[len_] = '\0';
    return len_;
  }

 private:
  char* buf_;
  size_t cap_;
  size_t len_ = 0;
  bool cut_ = false;
};

void put_status(out_buffer& out, uint64_t status) {
  const char* name = status_name(static_cast<EFI_STATUS>(status));
  if (name != nullptr) {
    out.put(name);
    return;
  }
  out.put('0');
  out.put('x');
  out.put_number(status, 16, true, 16, '0', false);
}

}  // namespace

const char* status_name(EFI_STATUS status) {
  const EFI_STATUS code = status & ~EFI_ERROR_BIT;
  EFI_STATUS index = code;
  if (EFI_ERROR(status)) {
    if (code == 0 || code >= error_name_count) {
      return nullptr;
    }
    index = warning_name_count - 1 + code;
  } else if (code >= warning_name_count) {
    return nullptr;
  }
  const char* name = status_names;
  for (; index != 0; --index) {
    while (*name++ != '\0') {
    }
  }
  return name;
}

size_t format_message(char* buf, size_t cap, const char* fmt, const fmt_arg* args, size_t nargs) {
  out_buffer out(buf, cap);
  size_t next = 0;
  for (const char* p = fmt; *p != '\0'; ++p) {
    if (*p != '%') {
      out.put(*p);
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out.put('%');
      continue;
    }
    char pad = ' ';
    if (*p == '0') {
      pad = '0';
      ++p;
    }
    size_t width = 0;
    while (*p >= '0' && *p <= '9') {
      width = width * 10 + static_cast<size_t>(*p - '0');
      ++p;
    }
    const char conv = *p;
    const bool known = conv == 'd' || conv == 'u' || conv == 'x' || conv == 'X' || conv == 'r';
    if (!known || next >= nargs) {
      // Unknown conversion or missing argument: print the directive as written
      // rather than guess.
      for (const char* q = start; q <= p && *q != '\0'; ++q) {
        out.put(*q);
      }
      if (*p == '\0') {
        break;
      }
      continue;
    }
    const uint64_t bits = args[next++].bits;
    if (conv == 'r') {
      put_status(out, bits);
      continue;
    }
    // As in firmware printers, an integer conversion without a length flag
    // takes a 32-bit int: a status printed with %d or %x shows its low word.
    uint32_t value = static_cast<uint32_t>(bits);
    const bool negative = conv == 'd' && static_cast<int32_t>(value) < 0;
    if (negative) {
      value = 0U - value;  // the magnitude, also of INT32_MIN
    }
    const bool hex = conv == 'x' || conv == 'X';
    out.put_number(value, hex ? 16 : 10, conv == 'X', width, pad, negative);
  }
  return out.finish();
}

namespace {

// Sends text to StdErr (ConOut when the firmware has no StdErr) as UCS-2,
// with each "\n" sent as "\r\n".
void console_write(const char* text) {
  EFI_SYSTEM_TABLE* st = g_support.system_table;
  if (st == nullptr) {
    return;
  }
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* out = st->StdErr != nullptr ? st->StdErr : st->ConOut;
  if (out == nullptr || out->OutputString == nullptr) {
    return;
  }
  console_output(out, text);
}

}  // namespace

void log_message(uint32_t level, const char* fmt, const fmt_arg* args, size_t nargs) {
  char text[log_buffer_size];
  format_message(text, sizeof(text), fmt, args, nargs);
  if (g_log_observer != nullptr) {
    g_log_observer(level, text);
  }
  console_write(text);
}

namespace {

// The one place that lays the arguments out for the formatter.
void log_error_values(const char* fmt, size_t nargs, uint64_t a0, uint64_t a1, uint64_t a2) {
  const fmt_arg args[] = {{a0}, {a1}, {a2}};
  log_message(DEBUG_ERROR, fmt, args, nargs);
}

}  // namespace

void log_error_args(const char* fmt) { log_message(DEBUG_ERROR, fmt, nullptr, 0); }
void log_error_args(const char* fmt, uint64_t a0) { log_error_values(fmt, 1, a0, 0, 0); }
void log_error_args(const char* fmt, uint64_t a0, uint64_t a1) { log_error_values(fmt, 2, a0, a1, 0); }
void log_error_args(const char* fmt, uint64_t a0, uint64_t a1, uint64_t a2) { log_error_values(fmt, 3, a0, a1, a2); }

}  // namespace murvane
