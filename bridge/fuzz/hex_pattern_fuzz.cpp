// Any bytes as the ASCII-hex pattern file: no crash, no overflow past the
// 64 KB page, and the page count agrees with the number of letters and
// digits in the file (every byte, including those of 0x80 and above, only
// counts when it is an ASCII letter or digit).
#include <cstdint>
#include <vector>

#include "bridge/firmware_file_check.h"
#include "bridge/fuzz/fuzz_file.h"
#include "platform/backend.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bridge::fuzz::ScratchFile file("hex_pattern_fuzz");
  // The reader makes no device request; asking for the backend once pulls
  // the platform's backend selection into the link.
  static platform::Backend& backend = platform::CurrentBackend();
  (void)backend;
  file.Write(data, size);
  size_t symbols = 0;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t c = data[i];
    symbols += (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  }
  const size_t bytes = symbols / 2;
  std::vector<uint8_t> page(bridge::kHexPageSize);
  for (unsigned n = 0; n < 3; ++n) {
    const size_t stored = bridge::ReadHexDataPage(file.path(), page.data(), n);
    const size_t before = size_t{n} * bridge::kHexPageSize;
    const size_t expected = bytes <= before ? 0
                            : bytes - before > bridge::kHexPageSize ? bridge::kHexPageSize
                                                                    : bytes - before;
    bridge::fuzz::Check(stored == expected);
  }
  return 0;
}
