// The bench a station runs on when no bench file is named: the text of
// sim/embedded_bench.txt, built into the library.
#pragma once

#include <string_view>

namespace sim {

std::string_view EmbeddedBenchText();

}  // namespace sim
