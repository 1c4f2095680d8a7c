// A small bounded text builder for freestanding code (the test images and
// the scenario verdict, which the host checker formats the same way).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace fwsim {

class text_builder {
 public:
  // buf receives NUL-terminated text; what does not fit is dropped.
  text_builder(char* buf, size_t cap) : buf_(buf), cap_(cap) {
    if (cap_ > 0) {
      buf_[0] = '\0';
    }
  }

  text_builder& put(char c) {
    if (len_ + 1 < cap_) {
      buf_[len_++] = c;
      buf_[len_] = '\0';
    } else {
      cut_ = true;
    }
    return *this;
  }
  text_builder& put(const char* s) {
    while (s != nullptr && *s != '\0') {
      put(*s++);
    }
    return *this;
  }
  // Hex with at least `digits` digits, "0x" prefixed, upper case.
  text_builder& hex(uint64_t v, int digits) {
    put("0x");
    int n = 1;
    while (n < 16 && (v >> (4 * n)) != 0) {
      ++n;
    }
    if (n < digits) {
      n = digits;
    }
    for (int i = n - 1; i >= 0; --i) {
      put("0123456789ABCDEF"[(v >> (4 * i)) & 0xF]);
    }
    return *this;
  }
  text_builder& dec(uint64_t v) {
    char digits[20];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (n > 0) {
      put(digits[--n]);
    }
    return *this;
  }

  size_t size() const { return len_; }
  bool cut() const { return cut_; }
  const char* c_str() const { return buf_; }

 private:
  char* buf_;
  size_t cap_;
  size_t len_ = 0;
  bool cut_ = false;
};

}  // namespace fwsim
