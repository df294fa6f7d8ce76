#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

namespace platform {
namespace {

constexpr size_t npos = std::string::npos;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// What may go into a written line: the text up to the first CR, LF or NUL.
std::string_view OneLine(std::string_view s) {
  const size_t end = s.find_first_of(std::string_view("\r\n\0", 3));
  return end == npos ? s : s.substr(0, end);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The file a rename must replace: a symbolic link is followed so that the
// link itself survives the save.
std::string RenameTarget(const std::string& path) {
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    std::string resolved(real);
    std::free(real);
    return resolved;
  }
  return path;
}

// A new file beside `target` that no other writer has, made with `mode`
// (less the umask). -1 when none can be made.
int OpenTemporary(const std::string& target, mode_t mode, std::string* temp) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = target + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
    const int fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The folder's own entry of a renamed file reaches the disk too.
bool SyncFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // A file system that cannot sync a folder keeps its entries in step itself.
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  ::close(fd);
  return ok;
}

}  // namespace

std::optional<int32_t> ParseProfileInteger(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    uint64_t value = 0;
    for (char c : s.substr(2)) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      value = value * 16 + static_cast<uint64_t>(d);
      if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  int64_t value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

std::optional<double> ParseProfileFloat(std::string_view s) {
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) return std::nullopt;
  }
  if (s.empty()) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string FormatProfileFloat(double value) {
  char buffer[64];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  if (error != std::errc()) return "0";
  return std::string(buffer, end);
}

bool IsReadOnlyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  return ::access(path.c_str(), W_OK) != 0;
}

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  std::string text;
  read_ = ReadRegularFile(path_.c_str(), kMaxProfileFileSize, &text);
  Parse(text);
}

IniFile IniFile::FromText(std::string_view text) {
  IniFile file;
  file.Parse(text);
  return file;
}

IniFile::Line IniFile::MakeLine(std::string text, std::string eol) {
  Line line;
  line.text = std::move(text);
  line.eol = std::move(eol);
  std::string_view body = line.text;
  while (!body.empty() && IsBlank(body.front())) body.remove_prefix(1);
  if (!body.empty() && body.front() == '[') {
    body.remove_prefix(1);
    const size_t close = body.find(']');
    line.kind = Kind::kSection;
    line.name = std::string(Trim(close == npos ? body : body.substr(0, close)));
  } else if (!body.empty() && body.front() != ';') {
    const size_t eq = line.text.find('=');
    if (eq != npos) {
      line.kind = Kind::kKey;
      line.name = std::string(Trim(std::string_view(line.text).substr(0, eq)));
      line.valueStart = eq + 1;
    }
  }
  return line;
}

void IniFile::Parse(std::string_view text) {
  lines_.clear();
  mark_.clear();
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  if (text.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    mark_ = kUtf8Mark;
    text.remove_prefix(kUtf8Mark.size());
  }
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    if (end == npos) {
      lines_.push_back(MakeLine(std::string(text), ""));
      break;
    }
    // Editors and text-mode writers leave CR CR LF where one line ended.
    size_t eol = 1;
    if (text.compare(end, 2, "\r\n") == 0) eol = 2;
    else if (text.compare(end, 3, "\r\r\n") == 0) eol = 3;
    lines_.push_back(MakeLine(std::string(text.substr(0, end)), std::string(text.substr(end, eol))));
    text.remove_prefix(end + eol);
  }
}

size_t IniFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].kind == Kind::kSection && SameName(lines_[i].name, section)) return i;
  return npos;
}

size_t IniFile::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != Kind::kSection) ++i;
  return i;
}

size_t IniFile::FindKey(size_t header, std::string_view key) const {
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i)
    if (lines_[i].kind == Kind::kKey && SameName(lines_[i].name, key)) return i;
  return npos;
}

std::optional<std::string> IniFile::Read(std::string_view section, std::string_view key) const {
  const size_t header = FindSection(section);
  if (header == npos) return std::nullopt;
  const size_t at = FindKey(header, key);
  if (at == npos) return std::nullopt;
  std::string_view value = std::string_view(lines_[at].text).substr(lines_[at].valueStart);
  const size_t nul = value.find('\0');
  if (nul != npos) value = value.substr(0, nul);
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  if (value.size() > kMaxValueLength) value = value.substr(0, kMaxValueLength);
  return std::string(value);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  std::optional<std::string> value = Read(section, key);
  return value ? std::move(*value) : std::string(fallback);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                             int32_t fallback) const {
  const std::optional<std::string> value = Read(section, key);
  if (!value) return fallback;
  return ParseProfileInteger(*value).value_or(fallback);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

double IniFile::ReadFloat(std::string_view section, std::string_view key, double fallback) const {
  const std::optional<std::string> value = Read(section, key);
  if (!value) return fallback;
  return ParseProfileFloat(*value).value_or(fallback);
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  section = OneLine(section);
  key = OneLine(key);
  value = OneLine(value);
  size_t header = FindSection(section);
  if (header == npos) {
    if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = "\r\n";
    lines_.push_back(MakeLine("[" + std::string(section) + "]", "\r\n"));
    header = lines_.size() - 1;
  }
  const size_t at = FindKey(header, key);
  if (at != npos) {
    // The key keeps the spelling the file gave it.
    Line& line = lines_[at];
    std::string text = line.name + "=" + std::string(value);
    line = MakeLine(std::move(text), line.eol.empty() ? "\r\n" : line.eol);
    return;
  }
  size_t after = header;
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i)
    if (lines_[i].kind == Kind::kKey) after = i;
  if (lines_[after].eol.empty()) lines_[after].eol = "\r\n";
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(after + 1),
                MakeLine(std::string(key) + "=" + std::string(value), "\r\n"));
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
  WriteString(section, key, FormatProfileFloat(value));
}

std::string IniFile::Text() const {
  std::string text = mark_;
  for (const Line& line : lines_) {
    text += line.text;
    text += line.eol;
  }
  return text;
}

bool IniFile::Flush() const {
  // A file that was there but not read (a pipe, a device, one too large)
  // is not replaced by a document that lacks its lines.
  if (path_.empty() || (read_ != FileRead::kRead && read_ != FileRead::kMissing)) return false;
  const std::string bytes = Text();
  struct stat st {};
  const bool exists = ::stat(path_.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && (!S_ISREG(st.st_mode) || IsReadOnlyFile(path_))) return false;

  // Written beside the file, made durable, then renamed over it: a crash or
  // a full disk leaves the old file or the new one, never a part.
  const std::string target = exists ? RenameTarget(path_) : path_;
  std::string temp;
  const int fd = OpenTemporary(target, exists ? 0600 : 0666, &temp);
  if (fd < 0) return false;
  bool ok = !exists || ::fchmod(fd, st.st_mode & 07777) == 0;
  if (ok && exists && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
    // Best effort: only root may hand the file back to another owner.
  }
  ok = ok && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return SyncFolderOf(target);
}

}  // namespace platform
