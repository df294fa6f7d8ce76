#include "qvfw/setting_table.h"

#include <strings.h>

#include "qvfw/library_state.h"

namespace qvfw {

LibraryState& State() {
  static LibraryState state;
  return state;
}

namespace {

// Index of the path's entry; -1 when none. The caller holds the mutex.
int IndexOfLocked(const LibraryState& state, const char* path) {
  for (size_t i = 0; i < state.settings.size(); ++i) {
    const SettingEntry& entry = state.settings[i];
    if (entry.inUse && ::strcasecmp(entry.path.c_str(), path) == 0) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

bool ParseHexDigits(std::string_view text, uint16_t* value) {
  if (text.empty() || text.size() > 4) return false;
  uint16_t v = 0;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    v = static_cast<uint16_t>(v << 4 | digit);
  }
  *value = v;
  return true;
}

void ClearSettingTable() {
  LibraryState& state = State();
  std::lock_guard lock(state.mutex);
  for (SettingEntry& entry : state.settings) entry = SettingEntry{};
}

int SettingIndexOf(const char* path) {
  LibraryState& state = State();
  std::lock_guard lock(state.mutex);
  return IndexOfLocked(state, path);
}

bool ChangeSetting(const char* path, const std::function<void(SettingEntry&)>& change) {
  LibraryState& state = State();
  std::lock_guard lock(state.mutex);
  int index = IndexOfLocked(state, path);
  if (index < 0) {
    for (size_t i = 0; i < state.settings.size() && index < 0; ++i) {
      if (!state.settings[i].inUse) index = static_cast<int>(i);
    }
    if (index < 0) return false;
    SettingEntry& made = state.settings[static_cast<size_t>(index)];
    made = SettingEntry{};
    made.inUse = true;
    made.path = path;
  }
  change(state.settings[static_cast<size_t>(index)]);
  return true;
}

bool SetSettingPath(int index, const char* path) {
  LibraryState& state = State();
  std::lock_guard lock(state.mutex);
  if (index < 0 || index >= kSettingTableCapacity) return false;
  SettingEntry& entry = state.settings[static_cast<size_t>(index)];
  if (!entry.inUse) return false;
  const int holder = IndexOfLocked(state, path);
  if (holder >= 0 && holder != index) return false;
  entry.path = path;
  return true;
}

std::optional<SettingEntry> SettingOf(const char* path) {
  LibraryState& state = State();
  std::lock_guard lock(state.mutex);
  const int index = IndexOfLocked(state, path);
  if (index < 0) return std::nullopt;
  return state.settings[static_cast<size_t>(index)];
}

}  // namespace qvfw
