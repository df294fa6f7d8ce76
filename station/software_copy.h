// The software copy step: the image folder's contents onto the product's
// volume.
#pragma once

#include <string>
#include <string_view>

namespace station {

// One silent shell copy of `source` (a file, a folder or a pattern such as
// "C:\image\*.*") into the folder `destination`. 1 when the shell reports
// success.
[[nodiscard]] int ShellCopyFolder(std::string_view source, std::string_view destination);

// Makes the destination folder when it is missing (with its missing parents
// when a plain creation fails), then ShellCopyFolder. 1 / 0.
[[nodiscard]] int CopySoftwareImage(std::string_view source, std::string_view destination);

// Whether the path names an existing folder.
[[nodiscard]] bool IsFolder(const std::string& path);

// The software image source of a pass from the path the operator gave: the
// folder (or the path's folder part) followed by "\*.*", unless the path
// has that already.
std::string SoftwareImageSource(const std::string& path);
// The folder the folder compare walks: the source without its "*.*".
std::string CompareSource(std::string_view source);

}  // namespace station
