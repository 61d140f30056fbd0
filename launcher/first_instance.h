#pragma once

// The boundary between the launcher (main.cpp, plain POSIX) and the program proper, which
// lives in a module of its own so that a later launch never loads Qt. The launcher loads the
// module only once it holds the single-instance lock, checks that the module comes from its own
// build, and calls the entry with the socket it listens on for reopen requests. The result is
// the process's exit status.
//
// The two come from one build and change together: this boundary is free to change with them.

struct FirstInstanceStart {
    int reopenSocket = -1;
    // Set when this launch took the place of an instance whose program was replaced on disk:
    // the new instance brings the panel up at once, as the reopen it stands for would, with
    // the launch's activation token (empty without one).
    bool showPanel = false;
    const char* activationToken = "";
    // The command line asked for a quiet start (--background): no panel at launch.
    bool background = false;
};

extern "C" __attribute__((visibility("default"))) int
zorvantRunFirstInstance(int argc, char** argv, const FirstInstanceStart* start);
// The build the module comes from, as ZORVANT_BUILD_IDENTITY names it.
extern "C" __attribute__((visibility("default"))) const char zorvantBuildIdentity[];

using FirstInstanceEntry = int (*)(int argc, char** argv, const FirstInstanceStart* start);
inline constexpr char firstInstanceEntryName[] = "zorvantRunFirstInstance";
inline constexpr char buildIdentityName[] = "zorvantBuildIdentity";
