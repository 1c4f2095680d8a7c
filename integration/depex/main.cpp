// murvane-depex: writes the driver's DXE dependency expression, the bytes of
// the DXE_DEPEX section a firmware-volume build takes next to Murvane.efi
// (the binary module's Murvane.depex), or lists an encoded one.
//
//   murvane-depex --out Murvane.depex
//   murvane-depex --bridge master|io --out MurvaneBridge.depex   (the bridge's, for its mode)
//   murvane-depex --list Murvane.depex
//   murvane-depex --version   (the driver version it belongs to, as the driver logs it)
//
// Exit status 0 on success, 1 when a file cannot be written or does not
// decode, 2 on a usage error.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "integration/depex/depex.h"
#include "murvane/version.h"

namespace {

int usage(const std::string& why) {
  std::cerr << "murvane-depex: " << why
            << "\nusage: murvane-depex ([--bridge master|io] --out FILE | --list FILE | --version)\n";
  return 2;
}

int write_expression(const std::string& path, const std::vector<depex::instruction>& program) {
  const std::vector<uint8_t> bytes = depex::encode(program);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "murvane-depex: cannot write " << path << "\n";
    return 1;
  }
  return 0;
}

int list_expression(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "murvane-depex: cannot read " << path << "\n";
    return 1;
  }
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::string error;
  const auto program = depex::decode(bytes, &error);
  if (!program) {
    std::cerr << "murvane-depex: " << path << ": " << error << "\n";
    return 1;
  }
  std::cout << depex::listing(*program);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << "murvane-depex v" << murvane::driver_version << "\n";
    return 0;
  }
  if (args.size() == 4 && args[0] == "--bridge" && args[2] == "--out") {
    if (args[1] != "master" && args[1] != "io") {
      return usage("--bridge takes master or io, not " + args[1]);
    }
    return write_expression(args[3], depex::bridge_expression(args[1] == "io"));
  }
  if (args.size() != 2) {
    return usage("expected one option and one file");
  }
  if (args[0] == "--out") {
    return write_expression(args[1], depex::driver_expression());
  }
  if (args[0] == "--list") {
    return list_expression(args[1]);
  }
  return usage("unknown option " + args[0]);
}
