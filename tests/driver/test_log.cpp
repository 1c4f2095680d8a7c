// The debug log: each conversion as firmware printers render it, status
// names, overlong messages, and the console sink.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/log.h"
#include "platform/platform.h"
#include "tests/sim_fixture.h"

namespace {

using murvane::format_message;
using murvane::make_fmt_arg;

template <typename... A>
std::string fmt(const char* f, A... a) {
  char buf[murvane::log_buffer_size];
  if constexpr (sizeof...(A) == 0) {
    format_message(buf, sizeof(buf), f, nullptr, 0);
  } else {
    const murvane::fmt_arg args[] = {make_fmt_arg(a)...};
    format_message(buf, sizeof(buf), f, args, sizeof...(A));
  }
  return buf;
}

struct ConvCase {
  std::string expected;
  std::string got;
};

TEST(LogFormat, Conversions) {
  const ConvCase cases[] = {
      {"Failed to initialize instance 5 I2C 3\n", fmt("Failed to initialize instance %d I2C %d\n", 5u, 3u)},
      {"Read addr:0x2 error:5\n", fmt("Read addr:0x%X error:%d\n", uint8_t{2}, 5u)},
      {"Write addr:0x5F data:0xAA error\n", fmt("Write addr:0x%X data:0x%X error\n", uint8_t{0x5F}, uint8_t{0xAA})},
      {"(0x07)", fmt("(0x%02X)", 7u)},
      {"(0x7180)", fmt("(0x%02X)", 0x7180u)},
      {"0x0000000e", fmt("0x%08x", 0xEu)},
      {"-1", fmt("%d", -1)},
      {"-2147483648", fmt("%d", INT32_MIN)},
      {"4294967295", fmt("%u", 0xFFFFFFFFu)},
      {"100%", fmt("100%%")},
      {"lra f0=1700", fmt("lra f0=%d", uint32_t{1700})},
  };
  for (const ConvCase& c : cases) {
    EXPECT_EQ(c.got, c.expected);
  }
}

TEST(LogFormat, IntegerConversionsTakeTheLowWordLikeFirmwarePrinters) {
  // A status passed to %d or %x shows its low 32 bits, as EDK2's printer does.
  EXPECT_EQ(fmt("hw init err %d", EFI_DEVICE_ERROR), "hw init err 7");
  EXPECT_EQ(fmt("0x%08x", EFI_NOT_FOUND), "0x0000000e");
}

TEST(LogFormat, StatusNames) {
  const std::pair<EFI_STATUS, const char*> cases[] = {
      {EFI_SUCCESS, "Success"},
      {EFI_INVALID_PARAMETER, "Invalid Parameter"},
      {EFI_UNSUPPORTED, "Unsupported"},
      {EFI_DEVICE_ERROR, "Device Error"},
      {EFI_OUT_OF_RESOURCES, "Out of Resources"},
      {EFI_NOT_FOUND, "Not Found"},
      {EFI_ACCESS_DENIED, "Access Denied"},
      {EFI_LOAD_ERROR, "Load Error"},
      {EFI_TIMEOUT, "Time out"},
      {EFI_SECURITY_VIOLATION, "Security Violation"},
      {efi_error_code(35), "HTTP Error"},
      {1, "Warning Unknown Glyph"},
      {7, "Warning Reset Required"},
  };
  for (const auto& [status, name] : cases) {
    EXPECT_EQ(fmt("%r", status), name) << std::hex << status;
  }
}

TEST(LogFormat, UnknownStatusPrintsInHex) {
  EXPECT_EQ(fmt("%r", efi_error_code(0x64)), "0x8000000000000064");
  EXPECT_EQ(fmt("%r", EFI_STATUS{8}), "0x0000000000000008");
}

TEST(LogFormat, MissingArgumentOrUnknownDirectiveIsPrintedAsWritten) {
  EXPECT_EQ(fmt("a %d b"), "a %d b");
  EXPECT_EQ(fmt("a %s b", 1), "a %s b");
  EXPECT_EQ(fmt("tail %"), "tail %");
}

TEST(LogFormat, OverlongMessageIsCutWithMarkerNeverOverrun) {
  std::string longtext(400, 'x');
  char buf[32];
  std::memset(buf, '#', sizeof(buf));
  char guard[8];
  std::memset(guard, 'G', sizeof(guard));
  const size_t n = format_message(buf, 24, longtext.c_str(), nullptr, 0);
  EXPECT_EQ(n, 23u);
  EXPECT_EQ(std::string(buf), std::string(20, 'x') + "...");
  EXPECT_EQ(buf[24], '#');  // nothing past the given capacity
  // Exactly fitting text is not marked.
  EXPECT_EQ(format_message(buf, 24, std::string(23, 'y').c_str(), nullptr, 0), 23u);
  EXPECT_EQ(std::string(buf), std::string(23, 'y'));
  // A cut inside a number still ends with the marker.
  EXPECT_EQ(fmt(std::string(murvane::log_buffer_size - 3, 'z').append("%d").c_str(), 123456)
                .substr(murvane::log_buffer_size - 4),
            "...");
}

TEST(LogFormat, AlwaysTerminatedAtTheSmallestCapacities) {
  // Capacity 0 writes nothing at all; capacity 1 holds only the terminator,
  // whatever the text and its arguments.
  const murvane::fmt_arg args[] = {murvane::make_fmt_arg(1234)};
  for (const char* f : {"", "x", "text %d", "%d"}) {
    SCOPED_TRACE(f);
    char buf[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(format_message(buf, 0, f, args, 1), 0u);
    EXPECT_EQ(std::string(buf, 4), "####");
    EXPECT_EQ(format_message(buf, 1, f, args, 1), 0u);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(std::string(buf + 1, 3), "###");
  }
}

TEST(LogSink, ConsoleGetsUcs2WithCrLfAndObserverGetsExactText) {
  murvane_test::SimBoard b("absent");
  ASSERT_TRUE(murvane::support_init(b.platform().image_handle(), b.platform().system_table()));
  murvane::log_error("Murvane: lra f0=%d\n", 1700);
  murvane::log_error("no line end");
  const std::u16string& console = b.platform().console();
  EXPECT_EQ(console, u"Murvane: lra f0=1700\r\nno line end");
  ASSERT_EQ(b.log().size(), 2u);
  EXPECT_EQ(b.log()[0], "Murvane: lra f0=1700\n");
  EXPECT_EQ(b.events()[0]["level"], 0x80000000u);
}

TEST(LogSink, LongMessageIsSentInChunksWithoutLoss) {
  murvane_test::SimBoard b("absent");
  ASSERT_TRUE(murvane::support_init(b.platform().image_handle(), b.platform().system_table()));
  const std::string text = std::string(150, 'a') + "\n" + std::string(20, 'b');
  murvane::log_error(text.c_str());
  std::u16string expected;
  for (char c : text) {
    if (c == '\n') {
      expected += u'\r';
    }
    expected += static_cast<char16_t>(c);
  }
  EXPECT_EQ(b.platform().console(), expected);
}

}  // namespace
