// errors: the platform layer's error words, written into the optional error
// out-parameters of the working directory and the atomic file writer. The
// values are fixed; compare against these names, never against spelled-out
// words.
#pragma once

namespace platform::err {

inline constexpr char kCreateFailed[] = "CREATE_FAILED";  // a directory or temporary file could not be made
inline constexpr char kBadTarget[] = "BAD_TARGET";        // empty path, or a directory stands there
inline constexpr char kWriteFailed[] = "WRITE_FAILED";    // writing, setting permissions or syncing failed
inline constexpr char kRenameFailed[] = "RENAME_FAILED";  // the finished file could not be put in place

}  // namespace platform::err
