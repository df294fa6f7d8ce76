// Build-time tool: writes the files a program folder is delivered with,
// beside the settings file that names them. Usage: make_program_files FOLDER
//   QVS891.bin       a product firmware for the embedded bench's QVS891
//                    products: 0x10400 bytes of code and the 512-byte block
//                    after it, the model tag 08 91 at bytes 4 and 5; the
//                    block carries no configuration of its own (no "QV" at
//                    its end), so the station builds one from the settings
//   TestPattern.txt  the read/write test's pattern: two 64 KB pages as
//                    ASCII hex, 32 bytes a line
//   Software/        the software image the station copies onto every
//                    product and compares
// The chip maker's firmware is not ours to ship; like the stand-in
// manufacturing images, these are our own bytes, the same on every build.
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "resources/stand_in_images.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kQvs891CodeLength = 0x10400;
constexpr uint32_t kQvs891BlockLength = 0x200;
constexpr uint32_t kPatternBytes = 2 * 64 * 1024;
constexpr uint32_t kPatternBytesPerLine = 32;

std::vector<uint8_t> StandIn(std::string_view name, uint32_t size) {
  std::vector<uint8_t> bytes(size);
  resources::MakeStandInImage({name, size, 0}, bytes.data());
  return bytes;
}

std::vector<uint8_t> Qvs891Firmware() {
  std::vector<uint8_t> file(kQvs891CodeLength + kQvs891BlockLength);
  resources::FillStandInStream("QVS891 product firmware", file.data(), file.size());
  file[4] = 0x08;
  file[5] = 0x91;
  // The block's signature place: no configuration of the firmware's own.
  file[kQvs891CodeLength + 0xFE] = 0;
  file[kQvs891CodeLength + 0xFF] = 0;
  return file;
}

std::vector<uint8_t> TestPattern() {
  std::vector<uint8_t> bytes(kPatternBytes);
  resources::FillStandInStream("read/write test pattern", bytes.data(), bytes.size());
  std::string text;
  for (uint32_t i = 0; i < bytes.size(); ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    text += hex;
    if ((i + 1) % kPatternBytesPerLine == 0) text += "\r\n";
  }
  return {text.begin(), text.end()};
}

std::vector<uint8_t> Text(std::string_view text) { return {text.begin(), text.end()}; }

struct ProgramFile {
  const char* name;
  std::vector<uint8_t> (*make)();
};

const ProgramFile kFiles[] = {
    {"QVS891.bin", Qvs891Firmware},
    {"TestPattern.txt", TestPattern},
    {"Software/ReadMe.txt",
     [] {
       return Text(
           "The software image the station copies onto every product it passes.\r\n"
           "Replace the files of this folder with the image a line ships.\r\n");
     }},
    {"Software/Setup.exe", [] { return StandIn("Setup.exe", 300000); }},
    {"Software/Drivers/UsbDisk.inf", [] { return Text("[Version]\r\nSignature=\"$Windows NT$\"\r\n"); }},
    {"Software/Drivers/x64/UsbDisk.sys", [] { return StandIn("UsbDisk.sys", 16385); }},
};

bool Write(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  const fs::path temporary = path.string() + ".tmp";
  FILE* out = std::fopen(temporary.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (std::fclose(out) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  for (const ProgramFile& file : kFiles) {
    if (!Write(fs::path(argv[1]) / file.name, file.make())) {
      std::fprintf(stderr, "make_program_files: cannot write %s/%s\n", argv[1], file.name);
      return 1;
    }
  }
  return 0;
}
