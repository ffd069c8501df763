// The diagnostic archive's steps, reachable from tests: the archive built at
// a given moment, the time stamp, and the helpers that run the shell.
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

// Appends directory/file to the archive under its bare name when it exists:
// 0 (appended, or missing: a warning), 6 a null argument, 15 no memory,
// 1 the shell could not be started.
uint32_t LOG_append_to_archive(const char *archivePath, const char *directory, const char *file);

// Runs "command > directory+stamp+suffix", appends that file and deletes it:
// 0, 6, 15 or 1 as above.
uint32_t LOG_get_system_data(const char *archivePath, const char *command, const char *directory,
                             const char *stamp, const char *suffix);

// Runs the command line through the shell and waits: 0 when the shell ran
// (whatever the command's exit status), 1 when it could not be started,
// 6 for a null command.
uint32_t LOG_run_command(const char *command);

}  // namespace kel::archive
