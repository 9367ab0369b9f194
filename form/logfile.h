// The log file of one port name: appended to, Windows-1251 text, CR LF line
// ends. Every write goes straight to the operating system, so a crash never
// loses a completed entry. Plain C++: the window only passes UTF-8 in.
#pragma once

#include <string>
#include <string_view>

namespace rilvano {

// Failures carry a number for the "Error#" box and a Russian description.
inline constexpr int kLogOpenError = 1001;
inline constexpr int kLogWriteError = 1002;

struct LogError {
  int number = 0;
  std::string description;  // UTF-8
};

// "Rilvano_log_" + the first four characters of the port name + ".txt".
std::string LogFileName(std::string_view portUtf8);

// Hour:minute:second.milliseconds, no leading zeros (9:5:3.7).
std::string FormatTimeStamp(int hour, int minute, int second, int millisecond);

class LogFileWriter {
 public:
  LogFileWriter() = default;
  ~LogFileWriter();
  LogFileWriter(const LogFileWriter&) = delete;
  LogFileWriter& operator=(const LogFileWriter&) = delete;

  // Opens (or creates) `path` for appending; a file already open is closed
  // first.
  bool Open(const std::string& path, LogError& error);
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  // A whole line: the text, then CR LF.
  bool WriteLine(std::string_view utf8, LogError& error);
  // An open-ended item: the text alone; the next write continues the line.
  bool WriteItem(std::string_view utf8, LogError& error);

  void Close();

 private:
  bool WriteBytes(const std::string& bytes, LogError& error);

  int fd_ = -1;
  std::string path_;
};

}  // namespace rilvano
