// A program folder of its own for each test, with the message boxes
// recorded instead of shown.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "station/settings_file.h"

namespace station::testing {

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string TestData(const char* name) {
  return std::string(KESTROVA_STATION_TEST_DATA) + "/" + name;
}

inline std::string MakeTempFolder() {
  char pattern[] = "/tmp/kestrova_settings.XXXXXX";
  const char* made = ::mkdtemp(pattern);
  return made ? made : "";
}

class SettingsFileTest : public ::testing::Test {
 public:
  SettingsFileTest() : folder_(MakeTempFolder()), programFolder_(folder_), sinkScope_(&sink_) {}
  ~SettingsFileTest() override { std::filesystem::remove_all(folder_); }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void WriteIni(const std::string& text, const std::string& name = kSettingsFileName) {
    Spit(Path(name), text);
  }
  LoadResult Load(const std::string& name = kSettingsFileName) {
    sink_.clear();
    return LoadSettings(name, block_, options_);
  }
  // A fresh window state and a load of `text`.
  LoadResult LoadFresh(const std::string& text) {
    block_ = ZeroedSettingsBlock();
    options_ = StationOptions();
    WriteIni(text);
    return Load();
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& box : sink_.boxes()) texts.push_back(box.text);
    return texts;
  }

  std::string folder_;
  platform::ScopedProgramFolder programFolder_;
  platform::RecordingMessageBoxSink sink_;
  platform::ScopedMessageBoxSink sinkScope_;
  SettingsBlock block_ = ZeroedSettingsBlock();
  StationOptions options_;
};

}  // namespace station::testing
