// The integrator's kit against the driver: the C headers' records (the
// haptic protocol the driver publishes, the bus and pin-control protocols
// it calls) as C and C++ compilers lay them out, the board settings as C
// macros, the GUIDs and version of the module files, and the encoded
// dependency expression, each held against the driver's own definitions
// (platform/protocols.h, the generated board settings), so none of them
// can drift.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/pi_i2c.h"
#include "core/entry.h"
#include "core/regs.h"
#include "host/harness.h"
#include "integration/depex/depex.h"
#include "murvane/MurvaneBoardSettings.h"
#include "murvane/board_settings.h"
#include "platform/protocols.h"
#include "sim/model_factory.h"
#include "sim/virtual_platform.h"
#include "tests/kit/kit_layout.h"

namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool same_guid(const EFI_GUID& a, const EFI_GUID& b) { return std::memcmp(&a, &b, sizeof(EFI_GUID)) == 0; }

// "gName = { 0x..., 0x..., 0x..., { 0x.., ... }}" lines of a .dec.
std::map<std::string, EFI_GUID> dec_guids(const std::string& text) {
  static const std::regex line(
      R"(^\s*(g\w+)\s*=\s*\{\s*0x([0-9a-fA-F]{1,8})\s*,\s*0x([0-9a-fA-F]{1,4})\s*,\s*0x([0-9a-fA-F]{1,4})\s*,\s*\{((?:\s*0x[0-9a-fA-F]{1,2}\s*,){7}\s*0x[0-9a-fA-F]{1,2})\s*\}\s*\}\s*$)");
  std::map<std::string, EFI_GUID> out;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) {
    std::smatch m;
    if (!std::regex_match(l, m, line)) {
      continue;
    }
    EFI_GUID g = {};
    g.Data1 = static_cast<UINT32>(std::stoul(m[2], nullptr, 16));
    g.Data2 = static_cast<UINT16>(std::stoul(m[3], nullptr, 16));
    g.Data3 = static_cast<UINT16>(std::stoul(m[4], nullptr, 16));
    std::istringstream bytes(m[5]);
    std::string b;
    for (unsigned char& d : g.Data4) {
      std::getline(bytes, b, ',');
      d = static_cast<unsigned char>(std::stoul(b, nullptr, 16));
    }
    out[m[1]] = g;
  }
  return out;
}

// The value of "  KEY = value" in a module or package file, or "".
std::string define_of(const std::string& text, const std::string& key) {
  const std::regex r("^\\s*" + key + "\\s*=\\s*(\\S.*?)\\s*$", std::regex::multiline);
  std::smatch m;
  return std::regex_search(text, m, r) ? m[1].str() : std::string();
}

// The non-comment lines of one section, trimmed.
std::vector<std::string> section_lines(const std::string& text, const std::string& name) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string l;
  bool inside = false;
  while (std::getline(in, l)) {
    const size_t hash = l.find('#');
    if (hash != std::string::npos) {
      l.erase(hash);
    }
    l.erase(0, l.find_first_not_of(" \t"));
    l.erase(l.find_last_not_of(" \t\r") + 1);
    if (l.empty()) {
      continue;
    }
    if (l.front() == '[') {
      inside = l == "[" + name + "]";
      continue;
    }
    if (inside) {
      out.push_back(l);
    }
  }
  return out;
}

const std::string dec_text = read_text(MURVANE_KIT_SOURCE "/MurvanePkg.dec");
const std::string inf_text = read_text(MURVANE_KIT_SOURCE "/Murvane/Murvane.inf");

void expect_driver_layout(const kit_layout& k, const char* compiler) {
  SCOPED_TRACE(compiler);
  EXPECT_EQ(k.protocol_size, sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL));
  EXPECT_EQ(k.protocol_align, alignof(EFI_ZELT_I2C_HAPTIC_PROTOCOL));
  EXPECT_EQ(k.revision_offset, offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Revision));
  EXPECT_EQ(k.revision_size, sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL::Revision));
  EXPECT_EQ(k.start_offset, offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start));
  EXPECT_EQ(k.start_size, sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL::Start));
  EXPECT_EQ(k.revision_constant, EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION);
  EXPECT_EQ(k.guid_size, sizeof(EFI_GUID));
  EXPECT_EQ(k.i2c_size, sizeof(EFI_ZELT_I2C_PROTOCOL));
  EXPECT_EQ(k.i2c_open_offset, offsetof(EFI_ZELT_I2C_PROTOCOL, Open));
  EXPECT_EQ(k.i2c_read_offset, offsetof(EFI_ZELT_I2C_PROTOCOL, Read));
  EXPECT_EQ(k.i2c_write_offset, offsetof(EFI_ZELT_I2C_PROTOCOL, Write));
  EXPECT_EQ(k.i2c_slave_config_words, 6u);
  EXPECT_EQ(k.korm_size, sizeof(EFI_KORM_PROTOCOL));
  EXPECT_EQ(k.korm_configure_offset, offsetof(EFI_KORM_PROTOCOL, Configure));
  EXPECT_EQ(k.korm_set_output_offset, offsetof(EFI_KORM_PROTOCOL, SetOutput));
}

TEST(KitHeader, LaysOutTheRecordAsTheDriverDoesInC) { expect_driver_layout(kit_layout_c, "C"); }

TEST(KitHeader, LaysOutTheRecordAsTheDriverDoesInCxx) { expect_driver_layout(kit_layout_cxx, "C++"); }

// The driver's GUIDs in the order the kit_guid_bytes_* functions take them.
const EFI_GUID* const driver_guids[] = {&EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID, &EFI_ZELT_I2C_PROTOCOL_GUID,
                                        &EFI_KORM_PROTOCOL_GUID};

TEST(KitHeader, GuidInitializersAreTheDriversGuids) {
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::memcmp(kit_guid_bytes_from_c(i), driver_guids[i], sizeof(EFI_GUID)), 0);
    EXPECT_EQ(std::memcmp(kit_guid_bytes_from_cxx(i), driver_guids[i], sizeof(EFI_GUID)), 0);
  }
  // And they are three different GUIDs (a copy-and-paste slip would not be).
  EXPECT_NE(std::memcmp(kit_guid_bytes_from_c(1), kit_guid_bytes_from_c(2), sizeof(EFI_GUID)), 0);
}

TEST(KitHeader, DriverCallsCPlatformProtocolsThroughItsOwnTypes) {
  // Records built in C from the headers, called the way the driver calls
  // them (its types from platform/protocols.h): every argument must arrive
  // where the C side expects it, in the UEFI calling convention.
  kit_platform_calls_c = {};
  const auto* i2c = static_cast<const EFI_ZELT_I2C_PROTOCOL*>(kit_i2c_protocol_from_c());
  UINT64 handle = 0;
  EXPECT_EQ(i2c->Open(5, &handle), 0u);
  EXPECT_EQ(kit_platform_calls_c.open_instance, 5u);
  EXPECT_EQ(handle, 0x1122334455667788ull);
  const UINT32 config[6] = {400, 0x5A, 0, 500, 0, 0};
  UINT8 byte = 0;
  UINT32 transferred = 0;
  EXPECT_EQ(i2c->Read(handle, config, 0x57, 1, &byte, 1, &transferred, 2500), 0u);
  EXPECT_EQ(byte, 0x95);
  EXPECT_EQ(kit_platform_calls_c.reads, 1);
  EXPECT_EQ(kit_platform_calls_c.transfer_handle, handle);
  EXPECT_EQ(kit_platform_calls_c.transfer_config, config);
  EXPECT_EQ(kit_platform_calls_c.transfer_register, 0x57u);
  EXPECT_EQ(kit_platform_calls_c.transfer_register_length, 1u);
  EXPECT_EQ(kit_platform_calls_c.transfer_data, &byte);
  EXPECT_EQ(kit_platform_calls_c.transfer_length, 1u);
  EXPECT_EQ(kit_platform_calls_c.transfer_transferred, &transferred);
  EXPECT_EQ(kit_platform_calls_c.transfer_timeout, 2500u);
  EXPECT_EQ(i2c->Write(handle, config, 0x0C, 1, &byte, 1, &transferred, 2500), 7u);
  EXPECT_EQ(kit_platform_calls_c.writes, 1);
  EXPECT_EQ(kit_platform_calls_c.transfer_register, 0x0Cu);

  const auto* korm = static_cast<const EFI_KORM_PROTOCOL*>(kit_korm_protocol_from_c());
  EXPECT_EQ(korm->Configure(0x200EC1E0, 1), EFI_SUCCESS);
  EXPECT_EQ(kit_platform_calls_c.pin_configures, 1);
  EXPECT_EQ(kit_platform_calls_c.pin_word, 0x200EC1E0u);
  EXPECT_EQ(kit_platform_calls_c.pin_value, 1u);
  EXPECT_EQ(korm->SetOutput(0x200EC1E0, 0), EFI_DEVICE_ERROR);
  EXPECT_EQ(kit_platform_calls_c.pin_outputs, 1);
  EXPECT_EQ(kit_platform_calls_c.pin_value, 0u);
}

TEST(KitBoardSettings, CMacrosAreTheDriversValues) {
  EXPECT_EQ(MURVANE_I2C_INSTANCE, murvane::board::i2c_instance);
  EXPECT_EQ(MURVANE_I2C_SPEED_KHZ, murvane::board::i2c_speed_khz);
  EXPECT_EQ(MURVANE_I2C_ADDRESS, murvane::board::i2c_address);
  const uint32_t config[] = MURVANE_I2C_SLAVE_CONFIG;
  ASSERT_EQ(std::size(config), 6u);
  EXPECT_EQ(config[0], murvane::board::i2c_speed_khz);
  EXPECT_EQ(config[1], murvane::board::i2c_address);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(config[2 + i], murvane::board::i2c_config_words_3_to_6[i]) << "word " << 3 + i;
  }
  EXPECT_EQ(MURVANE_I2C_TIMEOUT, murvane::i2c_timeout);
  EXPECT_EQ(MURVANE_RESET_PIN_WORD, murvane::board::reset_pin_word);
  EXPECT_EQ(MURVANE_RESET_PIN_GPIO, murvane::board::reset_pin_gpio);
}

TEST(KitHeader, RevisionIsThePublishedOne) {
  EXPECT_EQ(kit_layout_c.revision_constant, 0x00010005u);
  EXPECT_EQ(murvane::haptic_protocol.Revision, kit_layout_c.revision_constant);
}

// A Start of the driver's signature whose status and calls the test sees.
int fake_calls = 0;
EFI_STATUS EFIAPI fake_start() {
  ++fake_calls;
  return EFI_UNSUPPORTED;
}

TEST(KitHeader, CCallsStartThroughTheDriversRecord) {
  // The record built with the driver's definitions, read and called by C code
  // that knows only the header: Revision and Start where the driver puts
  // them, and Start's status back. (The calling convention is checked at
  // compile time: kit_layout_cxx.cpp requires the header's EFIAPI pointer
  // type, and the compilers refuse a pointer of another convention.)
  const EFI_ZELT_I2C_HAPTIC_PROTOCOL record = {0x1234567890ABCDEFull, &fake_start};
  uint64_t revision = 0;
  fake_calls = 0;
  EXPECT_EQ(kit_call_start_from_c(&record, &revision), EFI_UNSUPPORTED);
  EXPECT_EQ(revision, 0x1234567890ABCDEFull);
  EXPECT_EQ(fake_calls, 1);
}

TEST(KitHeader, WorksWithGnuEfisDefinitionsToo) {
#ifdef MURVANE_KIT_GNU_EFI
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(std::memcmp(kit_guid_bytes_with_gnu_efi(i), driver_guids[i], sizeof(EFI_GUID)), 0) << i;
  }
  EFI_ZELT_I2C_HAPTIC_PROTOCOL record = {EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION, &fake_start};
  uint64_t revision = 0;
  fake_calls = 0;
  EXPECT_EQ(kit_call_start_with_gnu_efi(&record, &revision), EFI_UNSUPPORTED);
  EXPECT_EQ(revision, EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION);
  EXPECT_EQ(fake_calls, 1);
  // Another revision: the consumer does not call Start.
  record.Revision = 0x00010004;
  EXPECT_EQ(kit_call_start_with_gnu_efi(&record, &revision), efi_error_code(25));  // EFI_INCOMPATIBLE_VERSION
  EXPECT_EQ(fake_calls, 1);
#else
  GTEST_SKIP() << "gnu-efi's headers were not found at configure time (scripts/deps.sh installs them)";
#endif
}

TEST(KitHeader, CStartsTheRealDriverOnTheVirtualPlatform) {
  sim::reset_driver_state();
  const std::unique_ptr<sim::ModelHandle> chip = sim::make_model("zq3101");
  sim::VirtualPlatform p(&chip->model());
  ASSERT_EQ(host::call_entry(p), EFI_SUCCESS);
  const void* installed = p.installed(EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID);
  ASSERT_NE(installed, nullptr);
  const size_t before = p.console().size();
  uint64_t revision = 0;
  EXPECT_EQ(kit_call_start_from_c(installed, &revision), EFI_SUCCESS);
  EXPECT_EQ(revision, EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION);
  const std::u16string log = p.console().substr(before);
  EXPECT_NE(log.find(u"Murvane: zq uefi driver version is v" MURVANE_VERSION), std::u16string::npos);
  EXPECT_NE(log.find(u"Murvane: zq uefi driver end"), std::u16string::npos);
}

TEST(KitModuleFiles, PackageDeclaresTheDriversGuids) {
  const auto guids = dec_guids(dec_text);
  ASSERT_EQ(guids.size(), 4u) << "three protocol GUIDs and the bridge's device GUID in the .dec";
  ASSERT_TRUE(guids.count("gEfiZeltI2cHapticProtocolGuid"));
  ASSERT_TRUE(guids.count("gEfiZeltI2cProtocolGuid"));
  ASSERT_TRUE(guids.count("gEfiKormProtocolGuid"));
  EXPECT_TRUE(same_guid(guids.at("gEfiZeltI2cHapticProtocolGuid"), EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID));
  EXPECT_TRUE(same_guid(guids.at("gEfiZeltI2cProtocolGuid"), EFI_ZELT_I2C_PROTOCOL_GUID));
  EXPECT_TRUE(same_guid(guids.at("gEfiKormProtocolGuid"), EFI_KORM_PROTOCOL_GUID));
}

TEST(KitModuleFiles, ModuleIsTheDriverAsBuilt) {
  EXPECT_EQ(define_of(inf_text, "MODULE_TYPE"), "DXE_DRIVER");
  EXPECT_EQ(define_of(inf_text, "BASE_NAME"), "Murvane");
  EXPECT_EQ(define_of(inf_text, "VERSION_STRING"), MURVANE_VERSION);
  EXPECT_EQ(section_lines(inf_text, "Binaries.AARCH64"),
            (std::vector<std::string>{"PE32|Murvane.efi|*", "DXE_DEPEX|Murvane.depex|*"}));
}

TEST(KitModuleFiles, DepexSectionNamesTheDriversExpression) {
  // The source form in the .inf, resolved through the .dec, is the program
  // the tool encodes.
  const std::vector<std::string> depex = section_lines(inf_text, "Depex");
  ASSERT_EQ(depex.size(), 1u);
  std::istringstream words(depex.front());
  const auto guids = dec_guids(dec_text);
  std::vector<depex::instruction> program;
  std::string w;
  std::vector<std::string> pending;
  while (words >> w) {
    if (w == "AND") {
      pending.push_back(w);
      continue;
    }
    ASSERT_TRUE(guids.count(w)) << w << " is not declared in the .dec";
    program.push_back({depex::op::push, guids.at(w)});
    if (!pending.empty()) {  // infix A AND B: postfix A B AND
      program.push_back({depex::op::and_, {}});
      pending.pop_back();
    }
  }
  program.push_back({depex::op::end, {}});
  EXPECT_EQ(depex::listing(program), depex::listing(depex::driver_expression()));
}

TEST(KitDepex, BuiltFileIsPushPushAndEnd) {
  const std::vector<uint8_t> bytes = read_bytes(MURVANE_KIT_DEPEX);
  ASSERT_EQ(bytes.size(), 36u) << MURVANE_KIT_DEPEX;
  // Opcodes where the PI encoding puts them: PUSH, 16 bytes, PUSH, 16 bytes, AND, END.
  EXPECT_EQ(bytes[0], 0x02);
  EXPECT_EQ(bytes[17], 0x02);
  EXPECT_EQ(bytes[34], 0x03);
  EXPECT_EQ(bytes[35], 0x08);
  // The I2C bus protocol's GUID, {2D95E7B4-6A13-4C08-B7F2-E4A1903C5D86}, in
  // EFI_GUID's memory order, written out by hand.
  const std::vector<uint8_t> i2c = {0xB4, 0xE7, 0x95, 0x2D, 0x13, 0x6A, 0x08, 0x4C,
                                    0xB7, 0xF2, 0xE4, 0xA1, 0x90, 0x3C, 0x5D, 0x86};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 1, bytes.begin() + 17), i2c);
  // And the pin-control protocol's, {C47E1A05-3B92-4F6D-A1E8-5D20B7C9F364}.
  const std::vector<uint8_t> korm = {0x05, 0x1A, 0x7E, 0xC4, 0x92, 0x3B, 0x6D, 0x4F,
                                     0xA1, 0xE8, 0x5D, 0x20, 0xB7, 0xC9, 0xF3, 0x64};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 18, bytes.begin() + 34), korm);
}

TEST(KitDepex, BuiltFileDecodesToTheDriversGuids) {
  std::string error;
  const auto program = depex::decode(read_bytes(MURVANE_KIT_DEPEX), &error);
  ASSERT_TRUE(program.has_value()) << error;
  ASSERT_EQ(program->size(), 4u);
  EXPECT_EQ((*program)[0].code, depex::op::push);
  EXPECT_TRUE(same_guid((*program)[0].guid, EFI_ZELT_I2C_PROTOCOL_GUID));
  EXPECT_EQ((*program)[1].code, depex::op::push);
  EXPECT_TRUE(same_guid((*program)[1].guid, EFI_KORM_PROTOCOL_GUID));
  EXPECT_EQ((*program)[2].code, depex::op::and_);
  EXPECT_EQ((*program)[3].code, depex::op::end);
  EXPECT_EQ(depex::listing(*program),
            "PUSH {2D95E7B4-6A13-4C08-B7F2-E4A1903C5D86}\n"
            "PUSH {C47E1A05-3B92-4F6D-A1E8-5D20B7C9F364}\n"
            "AND\n"
            "END\n");
}

TEST(KitDepex, DecoderRejectsMalformedExpressions) {
  const std::vector<uint8_t> good = depex::encode(depex::driver_expression());
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* reason;
  };
  std::vector<uint8_t> unknown = good;
  unknown[34] = 0x0A;
  std::vector<uint8_t> cut(good.begin(), good.begin() + 10);
  std::vector<uint8_t> no_end(good.begin(), good.end() - 1);
  std::vector<uint8_t> trailing = good;
  trailing.push_back(0x00);
  std::vector<uint8_t> lone_and(good.begin(), good.begin() + 17);
  lone_and.push_back(0x03);
  lone_and.push_back(0x08);
  std::vector<uint8_t> two_left(good.begin(), good.begin() + 34);
  two_left.push_back(0x08);
  const Case cases[] = {
      {"unknown opcode", unknown, "unknown opcode 10"},
      {"cut GUID", cut, "GUID cut short"},
      {"no END", no_end, "no END"},
      {"after END", trailing, "bytes after END"},
      {"AND of one", lone_and, "AND with fewer than two values"},
      {"two values", two_left, "END with 2 values"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(depex::decode(c.bytes, &error).has_value()) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
  std::string error;
  EXPECT_TRUE(depex::decode(good, &error).has_value()) << error;
}

// The bridge's module (MurvaneBridge/MurvaneBridge.inf): the staged [Depex],
// resolved through our .dec and the names the standard packages declare, is
// the expression the staged MurvaneBridge.depex decodes to, and it names the
// standard protocol of the mode the bridge was built for.
TEST(KitBridge, StagedDepexRoundTripsAndNamesTheModesProtocol) {
  const std::string staged = read_text(MURVANE_KIT_BRIDGE_INF);
  auto guids = dec_guids(dec_text);
  guids["gEfiI2cMasterProtocolGuid"] = pi::EFI_I2C_MASTER_PROTOCOL_GUID;
  guids["gEfiI2cIoProtocolGuid"] = pi::EFI_I2C_IO_PROTOCOL_GUID;
  guids["gEmbeddedGpioProtocolGuid"] = pi::EMBEDDED_GPIO_PROTOCOL_GUID;
  const std::vector<std::string> depex = section_lines(staged, "Depex");
  ASSERT_EQ(depex.size(), 1u);
  std::istringstream words(depex.front());
  std::vector<std::string> w(std::istream_iterator<std::string>{words}, std::istream_iterator<std::string>{});
  ASSERT_EQ(w.size(), 3u) << depex.front();
  ASSERT_EQ(w[1], "AND");
  ASSERT_TRUE(guids.count(w[0]) && guids.count(w[2])) << depex.front();
  const std::vector<depex::instruction> from_inf = {{depex::op::push, guids.at(w[0])},
                                                    {depex::op::push, guids.at(w[2])},
                                                    {depex::op::and_, {}},
                                                    {depex::op::end, {}}};
  std::string error;
  const auto built = depex::decode(read_bytes(MURVANE_KIT_BRIDGE_DEPEX), &error);
  ASSERT_TRUE(built.has_value()) << error;
  EXPECT_EQ(depex::listing(*built), depex::listing(from_inf));
  const bool io = w[0] == "gEfiI2cIoProtocolGuid";
  EXPECT_EQ(depex::listing(*built), depex::listing(depex::bridge_expression(io)));
  EXPECT_EQ(w[2], "gEmbeddedGpioProtocolGuid");
  EXPECT_TRUE(w[0] == "gEfiI2cMasterProtocolGuid" || io) << w[0];
}

TEST(KitBridge, ModuleIsTheBridgeAsBuiltAndDeclaresItsDeviceGuid) {
  const std::string text = read_text(MURVANE_KIT_SOURCE "/MurvaneBridge/MurvaneBridge.inf");
  EXPECT_EQ(define_of(text, "MODULE_TYPE"), "DXE_DRIVER");
  EXPECT_EQ(define_of(text, "BASE_NAME"), "MurvaneBridge");
  EXPECT_EQ(define_of(text, "VERSION_STRING"), MURVANE_VERSION);
  EXPECT_EQ(section_lines(text, "Binaries.AARCH64"),
            (std::vector<std::string>{"PE32|MurvaneBridge.efi|*", "DXE_DEPEX|MurvaneBridge.depex|*"}));
  // The .dec's device GUID is the bridge's default DeviceGuid.
  const auto guids = dec_guids(dec_text);
  ASSERT_TRUE(guids.count("gMurvaneHapticI2cDeviceGuid"));
  const EFI_GUID want = {0x8F4A2C71, 0x5D3E, 0x4B96, {0xA0, 0xC8, 0x7E, 0x19, 0xD6, 0x2B, 0x4F, 0x35}};
  EXPECT_TRUE(same_guid(guids.at("gMurvaneHapticI2cDeviceGuid"), want));
}

}  // namespace
