// The client's path helpers, file utilities, status files, linked list and shell quoting.
#include <algorithm>

#include "kel/linked_list.h"
#include "log/generic_files_internal.h"
#include "log/shell_quote.h"
#include "log_test_util.h"

// The program's own strdup, which the path helpers link to: fails on demand.
static bool gNoMemory = false;
extern "C" char *strdup(const char *s) {
  if (gNoMemory) return nullptr;
  char *copy = static_cast<char *>(std::malloc(std::strlen(s) + 1));
  return copy ? std::strcpy(copy, s) : nullptr;
}

namespace {

using namespace kel::test;
const uint8_t *Bytes(const char *s) { return reinterpret_cast<const uint8_t *>(s); }

TEST(GenericPath, MakesEveryComponentAndLogsFailures) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp / "file", "x"));
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, tmp / "logs", [&] {
    umask(0);
    EXPECT_EQ(GENERIC_make_path((tmp / "a/b/c/").c_str()), 0u);
    for (const char *d : {"a", "a/b", "a/b/c"}) EXPECT_EQ(ModeOf(tmp / d), 0755u) << d;
    EXPECT_EQ(GENERIC_make_path(("/" + tmp.path() + "//x//y").c_str()), 0u);
    EXPECT_TRUE(Exists(tmp / "x/y"));
    EXPECT_EQ(GENERIC_make_intermediate_path((tmp / "p/q/file.txt").c_str()), 0u);
    EXPECT_TRUE(Exists(tmp / "p/q") && !Exists(tmp / "p/q/file.txt"));
    std::vector<uint32_t> results(6, 99);  // threads making the same deep path all succeed
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i)
      threads.emplace_back([&, i] { results[i] = GENERIC_make_path((tmp / "1/2/3/4/5/6/7/8").c_str()); });
    for (auto &t : threads) t.join();
    EXPECT_EQ(results, std::vector<uint32_t>(6, 0));
    const Footprint before = FootprintNow();
    EXPECT_EQ(GENERIC_make_path((tmp / "a/b/new").c_str()), 0u);
    EXPECT_EQ(FootprintNow(), before) << "nothing kept";
    EXPECT_EQ(GENERIC_make_path((tmp / "file").c_str()), 0u);  // a file counts as made
    EXPECT_EQ(GENERIC_make_path((tmp / "file/sub").c_str()), 1u);
    EXPECT_EQ(GENERIC_make_intermediate_path((tmp / "file/d/x").c_str()), 1u);
    EXPECT_EQ(GENERIC_make_intermediate_path(nullptr), 1u);
    gNoMemory = true;
    EXPECT_EQ(GENERIC_make_path((tmp / "new").c_str()), uint32_t(KEL_ERROR_NOMEMORY));
    gNoMemory = false;
    ExpectGolden("generic_path_log", Scrub(KelLog(tmp / "logs"), tmp.path()));
  }));
  // A user without an entry has no name or home (those of others: the cache and archive tests).
  if (geteuid() == 0) { EXPECT_EQ(RunAsUser(54321, 54321, [] { EXPECT_TRUE(!GENERIC_get_user_name() && !GENERIC_get_home_dir()); }), 0); }
}

// Reads of at most 1000 bytes; after gReadsLeft such reads the file ends or fails.
int gReadsLeft = 0;
bool gFailWithError = false;
ssize_t ShortRead(int fd, void *buf, size_t count) {
  if (gReadsLeft-- <= 0) return gFailWithError ? (errno = EIO, -1) : 0;
  return read(fd, buf, std::min<size_t>(count, 1000));
}

TEST_F(SandboxTest, GenericFilesReadWriteListAndFaults) {
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  std::string text(4321, 'r');
  ASSERT_TRUE(WriteFile(dir / "f", text));
  ASSERT_TRUE(WriteFile(dir / "empty", ""));
  ASSERT_TRUE(WriteFile(dir / "secret", "root only"));
  chmod((dir / "secret").c_str(), 0600);
  ASSERT_EQ(mkdir((dir / "closed").c_str(), 0700), 0);
  ASSERT_TRUE(MountTmpfs(dir / "small", "size=16k"));
  ASSERT_EQ(mkdir((dir / "logs").c_str(), 0777), 0);
  chmod((dir / "logs").c_str(), 0777);
  const size_t descriptors = FootprintNow().descriptors;
  for (auto [reads, error, rc] : {std::tuple{5, false, 0u}, {2, false, 5u}, {2, true, 5u}}) {  // the file in pieces, cut or failing
    uint8_t *buf = nullptr;
    uint32_t len = 0;
    gReadsLeft = reads, gFailWithError = error;
    EXPECT_EQ(kel::generic::read_file_with((dir / "f").c_str(), &buf, &len, ShortRead), rc);
    EXPECT_EQ(buf ? std::string(reinterpret_cast<char *>(buf), len) : "", rc ? "" : text);
    std::free(buf);
  }
  EXPECT_EQ(FootprintNow().descriptors, descriptors) << "every read closes its file";
  EXPECT_EQ(0, RunAsUser(65534, 65534, [&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, (dir / "logs").c_str()), 0u);
    uint8_t marker = 0, *b = &marker;
    uint32_t n = 1234;
    const Footprint before = FootprintNow();
    for (auto [path, rc] : {std::pair{dir / "empty", 1u}, {dir / "missing", 1u}, {dir.path(), 5u}, {dir / "secret", 1u}})
      EXPECT_EQ(GENERIC_read_file(path.c_str(), &b, &n), rc) << path;
    EXPECT_EQ(GENERIC_read_file(nullptr, &b, &n), 6u);
    EXPECT_TRUE(b == &marker && n == 1234u);
    EXPECT_EQ(FootprintNow().descriptors, before.descriptors);
    EXPECT_EQ(GENERIC_write_file((dir / "secret").c_str(), Bytes("x"), 1, 0), 1u);
    for (auto [path, rc] : {std::pair{dir / "secret", 0u}, {dir / "closed/x", 1u}, {dir / "gone", 28u}})
      EXPECT_EQ(GENERIC_check_file_exists(path.c_str()), rc) << path;
    EXPECT_EQ(GENERIC_check_file_exists(nullptr), 6u);
    LinkedList *list = LinkedList_create();
    EXPECT_EQ(GENERIC_file_list_get((dir / "closed").c_str(), list), 14u);
    EXPECT_EQ(GENERIC_write_file((dir / "small/f").c_str(), Bytes(text.c_str()), 4321, 0), 0u);
    LinkedList_free_buffers(list);
    LOG_deinit();
  }));
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, dir / "logs", [&] {
    umask(022);
    EXPECT_EQ(GENERIC_write_file((dir / "new").c_str(), Bytes("abc"), 3, 0), 0u);
    EXPECT_EQ(GENERIC_write_file((dir / "private").c_str(), Bytes("abc"), 3, 0600), 0u);
    EXPECT_EQ(GENERIC_write_file((dir / "private").c_str(), Bytes("z"), 1, 0644), 0u);
    EXPECT_TRUE(ModeOf(dir / "new") == 0644u && ModeOf(dir / "private") == 0600u && ReadFile(dir / "private") == "z");
    std::string big(256 * 1024, 'f');
    EXPECT_EQ(GENERIC_write_file((dir / "small/g").c_str(), Bytes(big.c_str()), uint32_t(big.size()), 0), 14u);
    ASSERT_TRUE(RemountReadOnly(dir / "small", true));
    EXPECT_EQ(GENERIC_write_file((dir / "small/h").c_str(), Bytes("h"), 1, 0), 1u);
    EXPECT_EQ(GENERIC_write_file(nullptr, Bytes("x"), 1, 0), 6u);
    EXPECT_EQ(GENERIC_write_file((dir / "no/such").c_str(), Bytes("x"), 1, 0), 1u);
    LinkedList *list = LinkedList_create();
    LinkedList_add(list, strdup("kept"));
    EXPECT_EQ(GENERIC_file_list_get((dir / "small").c_str(), list), 0u);  // appends, never "." or ".."
    std::vector<std::string> names;
    for (uint32_t i = 0; i < LinkedList_length(list); ++i) names.push_back(static_cast<char *>(LinkedList_get(list, i)));
    std::sort(names.begin() + 1, names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "f", "g"}));
    EXPECT_EQ(GENERIC_file_list_get((dir / "f").c_str(), list), 14u);
    EXPECT_EQ(GENERIC_file_list_get(nullptr, list), 6u);
    LinkedList_free_buffers(list);
  }));
  // A missing file ("gone") is not an error.
  ExpectGolden("generic_files_log", Scrub(ReadFile(dir / "logs/app-kel.log"), dir.path()));
  EXPECT_EQ(ReadFile(dir / "secret"), "root only");
}

TEST(GenericFiles, TemporaryPaths) {
  EXPECT_STREQ(GENERIC_get_temp_dir(), "/tmp");
  const std::pair<const char *, const char *> ok[] = {{"kel_%02u.tmp", "/tmp/kel_99.tmp"}, {"%010u", "/tmp/0000000"},
                                                      {"100%%_%-3x|", "/tmp/100%_63 |"}, {"%#o.%%", "/tmp/0143.%"}};
  for (const auto &[pattern, path] : ok) {
    char *p = GENERIC_get_temp_file_path(pattern, 99);
    EXPECT_STREQ(p, path) << pattern;
    std::free(p);
  }
  for (const char *bad : {"%2147483648u", "%n%n", "a%nb%u", "%s", "%u%u", "none", "%%u", "%lu", "%*u",
                          "%1$u", "%d", "%u%", "%p", static_cast<const char *>(nullptr)})
    EXPECT_EQ(GENERIC_get_temp_file_path(bad, 99), nullptr) << (bad ? bad : "null");
}

TEST_F(SandboxTest, StatusFiles) {
  TempDir logs;
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, logs.path(), [&] {
    EXPECT_EQ(globalStatus("vpn", "connected"), 0u);
    EXPECT_EQ(globalStatus("vpn", "off"), 0u);
    EXPECT_EQ(ReadFile("/usr/share/kel/status/vpn"), "off");
    EXPECT_EQ(globalStatus("deep/er/state", ""), 0u);
    EXPECT_TRUE(Exists("/usr/share/kel/status/deep/er/state"));
    const std::string fits(255 - std::strlen("/usr/share/kel/status/"), 'n');  // 255 characters, not one more
    EXPECT_EQ(globalStatus((fits + "n").c_str(), "x"), 14u);
    EXPECT_FALSE(Exists("/usr/share/kel/status/" + fits)) << "never cut to another name";
    EXPECT_EQ(globalStatus(fits.c_str(), "x"), 0u);
    EXPECT_EQ(globalStatus(nullptr, "x"), 14u);
    ASSERT_TRUE(RemountReadOnly("/usr/share/kel", true));
    EXPECT_EQ(globalStatus("vpn", "blocked"), 14u);
    EXPECT_EQ(globalStatus("new/dir/state", "blocked"), 14u);
    ASSERT_TRUE(RemountReadOnly("/usr/share/kel", false));
    EXPECT_EQ(ReadFile("/usr/share/kel/status/vpn"), "off");
  }));
  ExpectAll(KelLog(logs.path()), {"] Global status file vpn,connected\r\n", "] Error writing status file vpn, blocked\r\n"});
  ASSERT_TRUE(MountTmpfs("/usr/share/kel", "size=4k"));
  EXPECT_EQ(globalStatus("huge", std::string(64 * 1024, 's').c_str()), 14u);
}

using Items = std::vector<uintptr_t>;
void *Item(uintptr_t v) { return reinterpret_cast<void *>(v); }
Items Walk(const LinkedList *list) {  // checks every back link on the way
  Items out;
  LinkedListEntry *const *field = &list->first;
  for (LinkedListEntry *e = LinkedList_first_entry(list); e != nullptr; e = LinkedList_next_entry(e)) {
    EXPECT_EQ(e->prev, field);
    field = &e->next;
    out.push_back(reinterpret_cast<uintptr_t>(LinkedList_entry_data(e)));
  }
  EXPECT_EQ(list->last, field);
  return out;
}
Items gReleased;

TEST(LinkedList, OrderUnlinkingIterationCopiesAndRelease) {
  EXPECT_EQ(LinkedList_length(nullptr), 0u);
  EXPECT_EQ(LinkedList_add(nullptr, Item(1)), nullptr);
  EXPECT_EQ(LinkedList_poll(nullptr), nullptr);
  LinkedList *list = LinkedList_create();
  for (uintptr_t v = 1; v <= 5; ++v) LinkedList_add(list, Item(v));
  EXPECT_EQ(LinkedList_get(list, 1), Item(2));
  EXPECT_EQ(LinkedList_get(list, 5), nullptr);
  EXPECT_EQ(LinkedList_poll(list), Item(1));
  LinkedList_remove_entry(list, LinkedList_get_entry(list, 3));  // the tail moves back
  LinkedList_add(list, Item(6));
  LinkedList_remove_entry(list, LinkedList_get_entry(list, 1));
  LinkedList_remove_entry(list, nullptr);  // no entry: nothing unlinked
  EXPECT_EQ(Walk(list), (Items{2, 4, 6}));
  EXPECT_EQ(LinkedList_is_not_empty(list), 1);
  Items seen;
  auto visit = [](void *item, void *ctx) -> int64_t {
    static_cast<Items *>(ctx)->push_back(reinterpret_cast<uintptr_t>(item));
    return item == Item(4) ? INT64_MIN + 5 : 0;
  };
  EXPECT_EQ(LinkedList_foreach(list, visit, &seen), INT64_MIN + 5);
  EXPECT_EQ(seen, (Items{2, 4}));
  LinkedList *copy = LinkedList_duplicate(list, [](void *i) { return Item(reinterpret_cast<uintptr_t>(i) * 10); });
  EXPECT_EQ(Walk(copy), (Items{20, 40, 60}));
  const size_t heap = FootprintNow().heap;
  LinkedList_shuffle(copy);
  EXPECT_EQ(FootprintNow().heap, heap) << "the shuffle's own head released";
  Items shuffled = Walk(copy), order = shuffled;
  std::sort(shuffled.begin(), shuffled.end());
  EXPECT_EQ(shuffled, (Items{20, 40, 60}));
  gReleased.clear();
  LinkedList_free(copy, [](void *item) { gReleased.push_back(reinterpret_cast<uintptr_t>(item)); });
  while (LinkedList_poll(list) != nullptr) continue;
  EXPECT_EQ(LinkedList_is_not_empty(list), 0);
  LinkedList_add(list, Item(7));  // an emptied list appends at the head again
  EXPECT_EQ(Walk(list), Items{7});
  LinkedList_free(list, nullptr);
  EXPECT_EQ(gReleased, Items(order.rbegin(), order.rend())) << "released from last to first";
}

TEST(ShellQuote, HostileWordsReachTheCommandUnchanged) {
  std::string words[] = {"", "plain", "it's", "'\\''", "$HOME", "$(echo x)", "`echo x`", "a;b|c&&d", "a\nb", "*?[a]",
                         "~root", "\"q\"", "back\\slash", "-n", "#c", "!b", "end'"};
  for (const std::string &w : words) {
    char quoted[512];
    ASSERT_GT(kel::log::shell_quote(w.c_str(), quoted, sizeof quoted), 0u);
    EXPECT_EQ(Shell(std::string("printf '<%s>' ") + quoted).out, "<" + w + ">") << w;
  }
  EXPECT_EQ(kel::log::shell_quoted_length("a'b"), 8u);
  char out[9];
  EXPECT_EQ(kel::log::shell_quote("a'bc", out, sizeof out), 0u);  // needs 10 bytes
  EXPECT_STREQ(out, "");
  const char *args[] = {"/tmp/a b", "-rf", "--directory=/x/", "it's", ""};
  char *cmd = kel::log::shell_command("/usr/bin/tar", args, 5);
  EXPECT_STREQ(cmd, "/usr/bin/tar '/tmp/a b' -rf --directory=/x/ 'it'\\''s' ''");
  std::free(cmd);
  const char *withNull[] = {"a", nullptr};
  EXPECT_EQ(kel::log::shell_command("mv -f", withNull, 2), nullptr);
}

}  // namespace
