// The folder the running program lives in. Relative file names of the
// station (the settings file, the test data file, the yield file, the log
// folder) are resolved against it, never against the working directory.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The folder of the running executable, without a trailing separator, or
// the override installed by ScopedProgramFolder.
std::string ProgramFolder();

// True for a name that starts at the file-system root.
[[nodiscard]] bool IsAbsolutePath(std::string_view path);

// An absolute path unchanged; anything else joined to ProgramFolder().
std::string ResolveInProgramFolder(std::string_view path);

// The platform's Windows folder, where a profile (INI) file of a bare name
// lives, as the system's profile functions place one: "kestrova/Windows"
// in the user's configuration folder ($XDG_CONFIG_HOME, else
// $HOME/.config), read at every call and made when first needed. Never the
// program folder. Empty when there is none and none can be made.
std::string WindowsFolder();
// The bare name `name` in WindowsFolder(); empty without that folder.
std::string ResolveInWindowsFolder(std::string_view name);

// Makes ProgramFolder() answer `folder` for the life of the object (tests,
// fuzzing). Not for use while other threads resolve names.
class ScopedProgramFolder {
 public:
  explicit ScopedProgramFolder(std::string folder);
  ~ScopedProgramFolder();
  ScopedProgramFolder(const ScopedProgramFolder&) = delete;
  ScopedProgramFolder& operator=(const ScopedProgramFolder&) = delete;

 private:
  std::string previous_;
};

}  // namespace platform
