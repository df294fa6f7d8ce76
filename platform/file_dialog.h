// The open and save file dialogs. What shows them is up to the installed
// sink: the window's sink shows real dialogs, a test's sink answers from a
// queue.
#pragma once

#include <optional>
#include <string>

#include "platform/recorded_requests.h"

namespace platform {

enum class FileDialogKind { kOpen, kSave };

struct FileDialogRequest {
  FileDialogKind kind = FileDialogKind::kOpen;
  // "Description|pattern" pairs, '|'-separated ("EEPROM INI file|*.ini").
  std::string filter;
  std::string defaultExtension;  // with its dot: ".ini"
  std::string initialFolder;
  bool overwritePrompt = false;  // save: ask before replacing a file
  bool hideReadOnly = false;     // no "open read-only" choice
};

class FileDialogSink {
 public:
  virtual ~FileDialogSink() = default;
  // The chosen file's full path, none when the dialog was cancelled.
  virtual std::optional<std::string> Choose(const FileDialogRequest& request) = 0;
};

// Runs a dialog through the installed sink. Without a sink: cancelled.
std::optional<std::string> ChooseFile(const FileDialogRequest& request);

// Installs the process-wide sink (null restores the default); the sink must
// outlive its installation.
void SetFileDialogSink(FileDialogSink* sink);

class ScopedFileDialogSink {
 public:
  explicit ScopedFileDialogSink(FileDialogSink* sink) { SetFileDialogSink(sink); }
  ~ScopedFileDialogSink() { SetFileDialogSink(nullptr); }
  ScopedFileDialogSink(const ScopedFileDialogSink&) = delete;
  ScopedFileDialogSink& operator=(const ScopedFileDialogSink&) = delete;
};

// Records every request and answers from a queue (then cancelled).
class RecordingFileDialogSink : public FileDialogSink {
 public:
  std::optional<std::string> Choose(const FileDialogRequest& request) override {
    return recorded.Take(request);
  }
  RecordedRequests<FileDialogRequest> recorded;
};

}  // namespace platform
