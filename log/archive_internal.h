// The diagnostic archive's steps, reachable from tests: the archive built at
// a given moment, the time stamp, and the helpers that run the tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace kel::archive {

// Room for the time stamp: longer stamps are refused.
inline constexpr size_t kStampSize = 32;
// The archive name buffer handed to the caller.
inline constexpr size_t kNameSize = 4096;

// LOG_create_archive with the clock read by the caller.
uint32_t create_archive(const char *directory, char **name, time_t now);

// Formats the local time of now with "%G_%m_%d_%H%M%S" into out (cap bytes);
// returns the length, or 0 when the time cannot be converted or formatted.
size_t format_stamp(time_t now, char *out, size_t cap);

// The text of haystack before the last place where needle begins (the
// application log directory before "app-kel.log"): a new string (free() it),
// or null when needle does not occur or there is no memory.
char *prefix_before_last(const char *haystack, const char *needle);

// Finds a tool in the system's own directories (/usr/bin, /bin, /usr/sbin,
// /sbin), never through $PATH: its path into out (cap bytes), or false and
// out empty.
bool find_tool(const char *tool, char *out, size_t cap);

// The command line a user would type for argv (null-terminated), with
// "< input" and "> output" when given, every argument shell-quoted: for the
// log. A new string (free() it), or null.
char *command_text(const char *const *argv, const char *input, const char *output);

// Appends directory/file to the archive under its bare name when it exists:
// 0 (appended, or missing: a warning), 6 a null argument, 15 no memory,
// 1 tar could not be started.
uint32_t LOG_append_to_archive(const char *archivePath, const char *directory, const char *file);

// Saves the output of tool (with one argument, or none) as a new file
// directory/stamp+suffix, appends it and deletes it: 0, 6, 15 or 1 as above.
uint32_t LOG_get_system_data(const char *archivePath, const char *tool, const char *argument,
                             const char *directory, const char *stamp, const char *suffix);

// Runs argv[0] (a full path) with the argument vector and a fixed
// environment, standard input and output from the given descriptors (-1:
// inherited), and waits: 0 when it ran, with its exit status in *exitStatus
// (128 + signal when killed) when that is not null; 1 when it could not be
// started; 6 for a null vector.
uint32_t LOG_run_command(const char *const *argv, int input, int output, int *exitStatus);

}  // namespace kel::archive
