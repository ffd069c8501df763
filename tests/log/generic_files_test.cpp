// The client's file utilities and the status file.
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "kel/generic.h"
#include "log/generic_files_internal.h"
#include "tests/log/log_test_util.h"

namespace {

using namespace kel::test;

constexpr uid_t kNobody = 65534;

const uint8_t *Bytes(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

mode_t ModeOf(const std::string &path) {
  struct stat st{};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Reads of at most 1000 bytes, as a slow or networked file system may give;
// after gReadsLeft such reads the next one ends the file or fails with EIO.
int gReadsLeft = 0;
bool gFailWithError = false;
ssize_t ShortRead(int fd, void *buf, size_t count) {
  if (gReadsLeft-- <= 0) {
    errno = EIO;
    return gFailWithError ? -1 : 0;
  }
  return read(fd, buf, std::min<size_t>(count, 1000));
}

TEST(GenericFiles, ReadCollectsShortReadsAndRefusesCutFiles) {
  TempDir dir;
  std::string text(4321, 'r');
  text[4320] = 'z';
  ASSERT_TRUE(WriteFile(dir / "f", text));
  uint8_t *buf = nullptr;
  uint32_t len = 0;
  gReadsLeft = 5;
  ASSERT_EQ(kel::generic::read_file_with((dir / "f").c_str(), &buf, &len, ShortRead), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len), text);
  std::free(buf);
  buf = nullptr;
  for (bool error : {false, true}) {
    gReadsLeft = 2;
    gFailWithError = error;
    EXPECT_EQ(kel::generic::read_file_with((dir / "f").c_str(), &buf, &len, ShortRead), 5u);
    EXPECT_EQ(buf, nullptr);
  }
}

TEST(GenericFiles, ReadFailuresLeaveTheCallerAlone) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "empty", ""));
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, dir.path(), [&] {
    uint8_t marker = 0;
    uint8_t *buf = &marker;
    uint32_t len = 1234;
    EXPECT_EQ(GENERIC_read_file((dir / "empty").c_str(), &buf, &len), 1u);
    EXPECT_EQ(GENERIC_read_file((dir / "missing").c_str(), &buf, &len), 1u);
    // A directory opens and has a size, but cannot be read.
    EXPECT_EQ(GENERIC_read_file(dir.path().c_str(), &buf, &len), 5u);
    EXPECT_EQ(GENERIC_read_file(nullptr, &buf, &len), 6u);
    EXPECT_EQ(GENERIC_read_file((dir / "empty").c_str(), nullptr, &len), 6u);
    EXPECT_EQ(buf, &marker);
    EXPECT_EQ(len, 1234u);
  }));
  std::string log = KelLog(dir.path());
  EXPECT_NE(log.find("] Incorrect file size\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("] Failed to open file " + (dir / "missing") + " (No such file or directory)\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("] Read file failed (Is a directory)\r\n"), std::string::npos);
}

class GenericFilesSandbox : public SandboxTest {};

TEST_F(GenericFilesSandbox, UnreadableForAnOrdinaryUser) {
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  ASSERT_TRUE(WriteFile(dir / "secret", "root only"));
  chmod((dir / "secret").c_str(), 0600);
  ASSERT_EQ(mkdir((dir / "closed").c_str(), 0700), 0);
  ASSERT_TRUE(WriteFile(dir / "closed/inside", "x"));
  ASSERT_EQ(mkdir((dir / "logs").c_str(), 0777), 0);
  chmod((dir / "logs").c_str(), 0777);
  EXPECT_EQ(0, RunAsUser(kNobody, kNobody, [&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, (dir / "logs").c_str()), 0u);
    uint8_t *buf = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(GENERIC_read_file((dir / "secret").c_str(), &buf, &len), 1u);
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(GENERIC_check_file_exists((dir / "secret").c_str()), 0u);  // existence needs no read right
    EXPECT_EQ(GENERIC_check_file_exists((dir / "closed/inside").c_str()), 1u);
    EXPECT_EQ(GENERIC_write_file((dir / "secret").c_str(), Bytes("x"), 1, 0), 1u);
    LinkedList *list = LinkedList_create();
    EXPECT_EQ(GENERIC_file_list_get((dir / "closed").c_str(), list), 14u);
    LinkedList_free_buffers(list);
    LOG_deinit();
  }));
  EXPECT_EQ(ReadFile(dir / "secret"), "root only");
  std::string log = KelLog(dir / "logs");
  EXPECT_NE(log.find("] Failed to open file " + (dir / "secret") + " (Permission denied)\r\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("] Failed to open " + (dir / "closed") + " directory\r\n"), std::string::npos);
}

TEST(GenericFiles, WriteModesTruncationAndLargeFiles) {
  TempDir dir;
  EXPECT_EQ(0, RunInChild([&] {
    umask(022);
    EXPECT_EQ(GENERIC_write_file((dir / "default").c_str(), Bytes("abc"), 3, 0), 0u);
    EXPECT_EQ(ModeOf(dir / "default"), 0644u);
    EXPECT_EQ(GENERIC_write_file((dir / "private").c_str(), Bytes("abc"), 3, 0600), 0u);
    EXPECT_EQ(ModeOf(dir / "private"), 0600u);
    // An existing file keeps its permissions and loses its old content.
    EXPECT_EQ(GENERIC_write_file((dir / "private").c_str(), Bytes("z"), 1, 0644), 0u);
    EXPECT_EQ(ModeOf(dir / "private"), 0600u);
  }));
  EXPECT_EQ(ReadFile(dir / "default"), "abc");
  EXPECT_EQ(ReadFile(dir / "private"), "z");
  EXPECT_EQ(GENERIC_write_file((dir / "new-empty").c_str(), Bytes(""), 0, 0), 0u);
  EXPECT_TRUE(Exists(dir / "new-empty"));

  std::string big(5 * 1024 * 1024 + 3, 'k');
  EXPECT_EQ(GENERIC_write_file((dir / "big").c_str(), Bytes(big), static_cast<uint32_t>(big.size()), 0), 0u);
  EXPECT_EQ(ReadFile(dir / "big"), big);
  EXPECT_EQ(GENERIC_write_file(nullptr, Bytes("x"), 1, 0), 6u);
  EXPECT_EQ(GENERIC_write_file((dir / "x").c_str(), nullptr, 1, 0), 6u);
  EXPECT_EQ(GENERIC_write_file((dir / "no/such/dir").c_str(), Bytes("x"), 1, 0), 1u);
}

TEST_F(GenericFilesSandbox, WriteToAFullOrReadOnlyFileSystem) {
  TempDir dir;
  ASSERT_TRUE(MountTmpfs(dir / "small", "size=16k"));
  ASSERT_EQ(mkdir((dir / "logs").c_str(), 0755), 0);
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, dir / "logs", [&] {
    std::string big(256 * 1024, 'f');
    EXPECT_EQ(GENERIC_write_file((dir / "small/f").c_str(), Bytes(big), static_cast<uint32_t>(big.size()), 0), 14u);
    ASSERT_TRUE(RemountReadOnly(dir / "small", true));
    EXPECT_EQ(GENERIC_write_file((dir / "small/g").c_str(), Bytes("g"), 1, 0), 1u);
  }));
  EXPECT_NE(KelLog(dir / "logs").find("] Write file failed (No space left on device)\r\n"), std::string::npos);
  EXPECT_NE(KelLog(dir / "logs").find("] Failed to open file " + (dir / "small/g") + " (Read-only file system)\r\n"),
            std::string::npos);
  umount((dir / "small").c_str());
}

TEST(GenericFiles, CheckFileExistsAndListDirectories) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "a.txt", "a"));
  ASSERT_TRUE(WriteFile(dir / ".hidden", "h"));
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, dir / "sub", [&] {
    EXPECT_EQ(GENERIC_check_file_exists((dir / "a.txt").c_str()), 0u);
    EXPECT_EQ(GENERIC_check_file_exists((dir / "gone").c_str()), 28u);
    EXPECT_EQ(GENERIC_check_file_exists((dir / "a.txt/below").c_str()), 1u);  // ENOTDIR
    EXPECT_EQ(GENERIC_check_file_exists(nullptr), 6u);
  }));
  std::string log = KelLog(dir / "sub");
  EXPECT_EQ(log.find("gone"), std::string::npos) << "a missing file is not an error: " << log;
  EXPECT_NE(log.find("] Not a directory\r\n"), std::string::npos) << log;

  // Listing appends to what the list holds, never "." or "..".
  ASSERT_EQ(unlink((dir / "sub/app-kel.log").c_str()), 0);
  LinkedList *list = LinkedList_create();
  char *before = strdup("kept");
  LinkedList_add(list, before);
  EXPECT_EQ(GENERIC_file_list_get(dir.path().c_str(), list), 0u);
  std::multiset<std::string> names;
  for (uint32_t i = 1; i < LinkedList_length(list); ++i) names.insert(static_cast<char *>(LinkedList_get(list, i)));
  EXPECT_EQ(LinkedList_get(list, 0), before);
  EXPECT_EQ(names, (std::multiset<std::string>{".hidden", "a.txt", "sub"}));
  LinkedList_free_buffers(list);
  list = LinkedList_create();
  EXPECT_EQ(GENERIC_file_list_get((dir / "sub").c_str(), list), 0u);
  EXPECT_EQ(LinkedList_length(list), 0u);
  EXPECT_EQ(GENERIC_file_list_get((dir / "a.txt").c_str(), list), 14u);
  EXPECT_EQ(GENERIC_file_list_get(nullptr, list), 6u);
  EXPECT_EQ(GENERIC_file_list_get(dir.path().c_str(), nullptr), 6u);
  LinkedList_free_buffers(list);
}

TEST(GenericFiles, TemporaryPaths) {
  EXPECT_STREQ(GENERIC_get_temp_dir(), "/tmp");
  struct {
    const char *pattern;
    uint32_t number;
    const char *path;  // null: refused
  } const cases[] = {
      {"kel_%02u.tmp", 99, "/tmp/kel_99.tmp"},
      {"%010u", 7, "/tmp/0000000"},  // cut to the pattern's length plus 2 characters
      {"100%%_%-3x|", 10, "/tmp/100%_a  |"},
      {"%#o.%%", 8, "/tmp/010.%"},
      {"%.3X", 0, "/tmp/000"},
      {"kel_%02u.tmp", 100, nullptr},
      {"%2147483648u", 1, nullptr},  // a width printf refuses: no bare "/tmp/"
      // Anything but one unsigned conversion would read (or write through)
      // arguments that are not there.
      {"%n%n", 1, nullptr},
      {"a%nb%u", 1, nullptr},
      {"%s", 1, nullptr},
      {"%u%u", 1, nullptr},
      {"no conversion", 1, nullptr},
      {"%%u", 1, nullptr},
      {"%lu", 1, nullptr},
      {"%*u", 1, nullptr},
      {"%1$u", 1, nullptr},
      {"%d", 1, nullptr},
      {"%u%", 1, nullptr},
      {"%p", 1, nullptr},
  };
  for (const auto &c : cases) {
    char *path = GENERIC_get_temp_file_path(c.pattern, c.number);
    if (c.path == nullptr)
      EXPECT_EQ(path, nullptr) << c.pattern;
    else
      EXPECT_STREQ(path, c.path) << c.pattern;
    std::free(path);
  }
  EXPECT_EQ(GENERIC_get_temp_file_path(nullptr, 1), nullptr);
}

TEST_F(GenericFilesSandbox, StatusFiles) {
  TempDir logs;
  std::string out = CaptureStdout([&] {
    EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, logs.path(), [&] {
      EXPECT_EQ(globalStatus("vpn", "connected"), 0u);
      EXPECT_EQ(globalStatus("vpn", "off"), 0u);  // rewritten whole, no line end added
      EXPECT_EQ(ReadFile("/usr/share/kel/status/vpn"), "off");
      EXPECT_EQ(globalStatus("deep/er/state", ""), 0u);
      EXPECT_TRUE(Exists("/usr/share/kel/status/deep/er/state"));

      // The whole path may hold 255 characters, not one more.
      const size_t room = 255 - std::strlen("/usr/share/kel/status/");
      std::string fits(room, 'n'), tooLong(room + 1, 'n');
      EXPECT_EQ(globalStatus(tooLong.c_str(), "x"), 14u);
      EXPECT_FALSE(Exists("/usr/share/kel/status/" + fits)) << "never cut to another name";
      EXPECT_EQ(globalStatus(fits.c_str(), "x"), 0u);
      EXPECT_EQ(ReadFile("/usr/share/kel/status/" + fits), "x");
      EXPECT_EQ(globalStatus(nullptr, "x"), 14u);
      EXPECT_EQ(globalStatus("vpn", nullptr), 14u);

      ASSERT_TRUE(RemountReadOnly("/usr/share/kel", true));
      EXPECT_EQ(globalStatus("vpn", "blocked"), 14u);
      EXPECT_EQ(globalStatus("new/dir/state", "blocked"), 14u);
      ASSERT_TRUE(RemountReadOnly("/usr/share/kel", false));
      EXPECT_EQ(ReadFile("/usr/share/kel/status/vpn"), "off");
    }));
  });
  std::string log = KelLog(logs.path());
  EXPECT_NE(log.find("] Global status file vpn,connected\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("] Error writing status file vpn, blocked\r\n"), std::string::npos);
  EXPECT_NE(out.find("] Failed to create path '/usr/share/kel/status/new/dir/state' with KEL_ERROR_FAILED.\n"),
            std::string::npos)
      << out;

  // A full file system.
  ASSERT_TRUE(MountTmpfs("/usr/share/kel", "size=4k"));
  std::string big(64 * 1024, 's');
  EXPECT_EQ(globalStatus("huge", big.c_str()), 14u);
}

}  // namespace
