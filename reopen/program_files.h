#pragma once

#include <string_view>

#include <sys/types.h>

// Whether a running Zorvant's program was replaced on disk since it started. A package manager
// upgrades by renaming each new file over the old one; a process keeps the old file mapped,
// and the kernel then marks it " (deleted)" in /proc/PID/exe and /proc/PID/maps. Either the
// executable or the program's module counts: an upgrade may change one and not the other.
//
// Plain POSIX, for the launcher to ask of an instance that speaks no newer request, and for an
// instance to ask of itself.
class ProgramFiles {
public:
    // The file names of the executable and of the module, as app/CMakeLists.txt names them.
    static constexpr std::string_view executableFileName = "zorvant";
    static constexpr std::string_view moduleFileName = "libzorvant-gui.so";

    static bool replaced(pid_t pid);
    // Whether the process runs an executable named as Zorvant's, replaced or not: before a
    // launch ends a process, more than the socket it answered on vouches that it is Zorvant.
    static bool runsZorvant(pid_t pid);
};
