// The client's file toolbox: whole-file read and write, existence test,
// directory listing into a linked list, temporary file paths. Failures are
// logged at ERROR under the source name "generic" and returned as client
// error codes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/generic.h"
#include "kel/log.h"
#include "log/generic_files_internal.h"

namespace kel::generic {
namespace {

constexpr const char *kSource = "generic";
constexpr const char *kTempDir = "/tmp";
// Temporary file numbers run from 0 to 99.
constexpr uint32_t kMaxTempNumber = 99;

}  // namespace

bool temp_pattern_ok(const char *pattern) {
  int conversions = 0;
  for (const char *p = pattern; *p != '\0'; ++p) {
    if (*p != '%') continue;
    if (*++p == '%') continue;
    while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0') ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '.')
      for (++p; *p >= '0' && *p <= '9';) ++p;
    // No length modifier, '*' or "n$": the one argument is an unsigned int.
    if (*p != 'u' && *p != 'o' && *p != 'x' && *p != 'X') return false;
    ++conversions;
  }
  return conversions == 1;
}

uint32_t read_file_with(const char *path, uint8_t **buffer, uint32_t *length, ReadFn readFn) {
  // Its log lines carry the exported name.
  constexpr const char *kReadName = "GENERIC_read_file";
  if (path == nullptr || buffer == nullptr || length == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, kReadName, __LINE__, "NULL pointer on input\r\n");
    return KEL_ERROR_BADARG;
  }
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, kReadName, __LINE__, "Failed to open file %s (%s)\r\n", path,
               std::strerror(errno));
    return KEL_ERROR_FAILED;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, kReadName, __LINE__, "Failed to get file status %s (%s)\r\n", path,
               std::strerror(errno));
    close(fd);
    return KEL_ERROR_FAILED;
  }
  // Sizes are signed 32-bit: a file of 2 GiB or more reads as too small.
  auto size = static_cast<int32_t>(st.st_size);
  if (size < 1) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, kReadName, __LINE__, "Incorrect file size\r\n");
    close(fd);
    return KEL_ERROR_FAILED;
  }
  auto *data = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(size)));
  if (data == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, kReadName, __LINE__, "Memory allocation failed\r\n");
    close(fd);
    return KEL_ERROR_NOMEMORY;
  }
  for (int32_t done = 0; done < size;) {
    ssize_t n = readFn(fd, data + done, static_cast<size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A file that shrank under us delivers nothing before the end.
      LOG_printf(LOG_LEVEL_ERROR, kSource, kReadName, __LINE__, "Read file failed (%s)\r\n",
                 n < 0 ? std::strerror(errno) : "unexpected end of file");
      std::free(data);
      close(fd);
      return KEL_ERROR_OSERROR;
    }
    done += static_cast<int32_t>(n);
  }
  close(fd);
  *buffer = data;
  *length = static_cast<uint32_t>(size);
  return KEL_ERROR_NOERROR;
}

}  // namespace kel::generic

using kel::generic::kSource;

uint32_t GENERIC_read_file(const char *path, uint8_t **buffer, uint32_t *length) {
  return kel::generic::read_file_with(path, buffer, length, ::read);
}

uint32_t GENERIC_write_file(const char *path, const uint8_t *data, uint32_t length, uint32_t mode) {
  if (path == nullptr || data == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, __func__, __LINE__, "NULL pointer on input\r\n");
    return KEL_ERROR_BADARG;
  }
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(mode != 0 ? mode : 0644));
  if (fd < 0) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, __func__, __LINE__, "Failed to open file %s (%s)\r\n", path,
               std::strerror(errno));
    return KEL_ERROR_FAILED;
  }
  auto size = static_cast<int32_t>(length);
  for (int32_t done = 0; done < size;) {
    ssize_t n = write(fd, data + done, static_cast<size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      LOG_printf(LOG_LEVEL_ERROR, kSource, __func__, __LINE__, "Write file failed (%s)\r\n",
                 n < 0 ? std::strerror(errno) : "nothing written");
      close(fd);
      return KEL_ERROR_IO;
    }
    done += static_cast<int32_t>(n);
  }
  // Delayed write errors (a full file system over NFS, say) surface at close.
  if (close(fd) != 0) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, __func__, __LINE__, "Write file failed (%s)\r\n", std::strerror(errno));
    return KEL_ERROR_IO;
  }
  return KEL_ERROR_NOERROR;
}

uint32_t GENERIC_check_file_exists(const char *name) {
  if (name == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, __func__, __LINE__, "NULL pointer on input\r\n");
    return KEL_ERROR_BADARG;
  }
  if (access(name, F_OK) == 0) return KEL_ERROR_NOERROR;
  if (errno == ENOENT) return KEL_ERROR_FILENOTFOUND;
  LOG_printf(LOG_LEVEL_ERROR, kSource, __func__, __LINE__, "%s\r\n", std::strerror(errno));
  return KEL_ERROR_FAILED;
}

uint32_t GENERIC_file_list_get(const char *path, LinkedList *list) {
  if (path == nullptr || list == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, __func__, __LINE__, "NULL pointer on input\r\n");
    return KEL_ERROR_BADARG;
  }
  DIR *dir = opendir(path);
  if (dir == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, __func__, __LINE__, "Failed to open %s directory\r\n", path);
    return KEL_ERROR_IO;
  }
  while (const struct dirent *e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    char *copy = strdup(e->d_name);
    if (copy == nullptr || LinkedList_add(list, copy) == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kSource, __func__, __LINE__, "Memory allocation failed\r\n");
      std::free(copy);
    }
  }
  closedir(dir);
  return KEL_ERROR_NOERROR;
}

const char *GENERIC_get_temp_dir(void) { return kel::generic::kTempDir; }

char *GENERIC_get_temp_file_path(const char *pattern, uint32_t number) {
  if (pattern == nullptr || number > kel::generic::kMaxTempNumber) return nullptr;
  // The pattern is a format: anything but one unsigned conversion would read
  // arguments that are not there (or write through them, with %n).
  if (!kel::generic::temp_pattern_ok(pattern)) return nullptr;
  size_t dirLength = std::strlen(kel::generic::kTempDir);
  // The formatted name gets the pattern's length plus 3 bytes (its terminator
  // included): room for a two-digit number in place of a "%u".
  size_t nameSpace = std::strlen(pattern) + 3;
  auto *path = static_cast<char *>(std::malloc(dirLength + nameSpace + 1));
  if (path == nullptr) return nullptr;
  std::memcpy(path, kel::generic::kTempDir, dirLength);
  path[dirLength] = '/';
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = std::snprintf(path + dirLength + 1, nameSpace, pattern, number);
#pragma GCC diagnostic pop
  if (n < 0) {  // a width printf cannot honour: no name rather than "/tmp/"
    std::free(path);
    return nullptr;
  }
  path[dirLength + nameSpace] = '\0';
  return path;
}
