#include "form/logfile.h"

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>

#include <filesystem>
#include <string_view>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstddef>

#include "modbus/cp1251.h"

namespace rilvano {

namespace {

#ifdef _WIN32
// The name reaches the file system as UTF-16: the narrow call would read the
// UTF-8 in the ANSI code page and create a file of another name.
int OpenAppend(const char* path) {
  std::wstring name;
  try {
    const std::string_view utf8(path);
    name = std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring();
  } catch (const std::exception&) {
    errno = EINVAL;  // not UTF-8: no file of that name can be meant
    return -1;
  }
  return ::_wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long WriteSome(int fd, const char* data, std::size_t size) {
  return ::_write(fd, data, static_cast<unsigned>(size));
}
void CloseFd(int fd) { ::_close(fd); }
#else
int OpenAppend(const char* path) {
  return ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
}
long WriteSome(int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }
void CloseFd(int fd) { ::close(fd); }
#endif

// The reason in the operator's language; the common causes by name.
std::string Reason(int err) {
  switch (err) {
    case ENOENT: return "путь не найден";
    case ENOTDIR: return "путь не найден";
    case EACCES:
    case EPERM: return "доступ запрещён";
    case EISDIR: return "это каталог";
    case ENOSPC: return "нет места на диске";
#ifdef EDQUOT
    case EDQUOT: return "превышена дисковая квота";
#endif
    case EROFS: return "диск доступен только для чтения";
    case ENAMETOOLONG: return "слишком длинное имя";
    case EMFILE:
    case ENFILE: return "слишком много открытых файлов";
    case EIO: return "ошибка ввода-вывода";
    case EFBIG: return "файл слишком велик";
    case EINVAL: return "недопустимое имя файла";
    default: return "системная ошибка " + std::to_string(err);
  }
}

}  // namespace

std::string LogFileName(std::string_view portUtf8) {
  std::string name = "Rilvano_log_";
  const std::u32string codes = Utf8ToCodePoints(portUtf8);
  for (std::size_t i = 0; i < codes.size() && i < 4; ++i) AppendUtf8(name, codes[i]);
  return name + ".txt";
}

std::string FormatTimeStamp(int hour, int minute, int second, int millisecond) {
  return std::to_string(hour) + ":" + std::to_string(minute) + ":" + std::to_string(second) + "." +
         std::to_string(millisecond);
}

LogFileWriter::~LogFileWriter() { Close(); }

bool LogFileWriter::Open(const std::string& path, LogError& error) {
  Close();
  int fd;
  do {
    fd = OpenAppend(path.c_str());
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = {kLogOpenError, "Не удалось открыть файл журнала " + path + ": " + Reason(errno) + "."};
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

bool LogFileWriter::WriteLine(std::string_view utf8, LogError& error) {
  std::string bytes = Utf8ToCp1251(utf8);
  bytes += "\r\n";
  return WriteBytes(bytes, error);
}

bool LogFileWriter::WriteItem(std::string_view utf8, LogError& error) {
  return WriteBytes(Utf8ToCp1251(utf8), error);
}

bool LogFileWriter::WriteBytes(const std::string& bytes, LogError& error) {
  if (fd_ < 0) {
    error = {kLogWriteError, "Файл журнала не открыт."};
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const long n = WriteSome(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : ENOSPC;
      error = {kLogWriteError, "Не удалось записать в файл журнала " + path_ + ": " + Reason(err) + "."};
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void LogFileWriter::Close() {
  if (fd_ >= 0) CloseFd(fd_);
  fd_ = -1;
  path_.clear();
}

}  // namespace rilvano
