// Shell quoting of file names: whatever the name, the shell sees it as one
// plain word and runs nothing else.
#include "log/shell_quote.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using kel::log::shell_command;
using kel::log::shell_quote;
using kel::log::shell_quoted_length;

// What the shell prints for "printf '<%s>' QUOTED".
std::string ThroughShell(const std::string &word) {
  char quoted[4096];
  EXPECT_GT(shell_quote(word.c_str(), quoted, sizeof quoted), 0u);
  std::string cmd = std::string("printf '<%s>' ") + quoted;
  std::string out;
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char buf[512];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

TEST(ShellQuote, HostileWordsReachTheCommandUnchanged) {
  const std::string words[] = {
      "", "plain", "with blank", "it's", "''", "'\\''", "$HOME", "${PATH}", "$(echo pwned)", "`echo pwned`",
      "a;b", "a && b", "a|b", "a\nb", "tab\there", "*", "?[a]", "~root", "\"double\"", "back\\slash", "-n",
      "#comment", "!bang", "end'",
  };
  for (const std::string &w : words) EXPECT_EQ(ThroughShell(w), "<" + w + ">") << w;
}

TEST(ShellQuote, PlainWordsStaySmallBuffersAndCommands) {
  EXPECT_EQ(shell_quoted_length("a'b"), 8u);  // 'a'\''b'
  EXPECT_EQ(shell_quoted_length("-rf"), 3u);
  EXPECT_EQ(shell_quoted_length(""), 2u);
  char out[9];
  EXPECT_EQ(shell_quote("a'bc", out, sizeof out), 0u);  // needs 10 bytes with the terminator
  EXPECT_STREQ(out, "");
  EXPECT_EQ(shell_quote("123456789", out, sizeof out), 0u);
  const char *args[] = {"/tmp/a b/x.log", "-rf", "--directory=/usr/share/kel/", "it's", "~x", ""};
  char *cmd = shell_command("/usr/bin/tar", args, 6);
  EXPECT_STREQ(cmd, "/usr/bin/tar '/tmp/a b/x.log' -rf --directory=/usr/share/kel/ 'it'\\''s' '~x' ''");
  std::free(cmd);
  const char *withNull[] = {"a", nullptr};
  EXPECT_EQ(shell_command("mv -f", withNull, 2), nullptr);
}

}  // namespace
