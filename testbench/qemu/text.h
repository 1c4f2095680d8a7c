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

// The words of the test images' settings files (\sim.cfg, \board.cfg):
// separated by blanks, '#' starting a comment to the end of its line.
inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Whether the n characters at w are exactly lit.
inline bool word_is(const char* w, size_t n, const char* lit) {
  size_t i = 0;
  for (; i < n && lit[i] != '\0'; ++i) {
    if (w[i] != lit[i]) {
      return false;
    }
  }
  return i == n && lit[i] == '\0';
}

// The next word of text (len bytes at most, or up to a NUL) from *at on, which
// is moved past it: false when only blanks and comments are left.
inline bool next_word(const char* text, size_t len, size_t* at, const char** word, size_t* n) {
  size_t i = *at;
  while (i < len && text[i] != '\0') {
    if (is_blank(text[i])) {
      ++i;
      continue;
    }
    if (text[i] == '#') {
      while (i < len && text[i] != '\0' && text[i] != '\n') {
        ++i;
      }
      continue;
    }
    *word = text + i;
    *n = 0;
    while (i < len && text[i] != '\0' && !is_blank(text[i]) && text[i] != '#') {
      ++i;
      ++*n;
    }
    *at = i;
    return true;
  }
  *at = i;
  return false;
}

}  // namespace fwsim
