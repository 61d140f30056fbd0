#pragma once

// The boundary between the launcher (main.cpp, plain POSIX) and the program proper, which
// lives in a module of its own so that a later launch never loads Qt. The launcher loads the
// module only once it holds the single-instance lock, and calls this entry with the socket it
// listens on for reopen requests. The result is the process's exit status.
extern "C" __attribute__((visibility("default"))) int zorvantRunFirstInstance(int argc, char** argv,
                                                                              int reopenSocket);

using FirstInstanceEntry = int (*)(int argc, char** argv, int reopenSocket);
inline constexpr char firstInstanceEntryName[] = "zorvantRunFirstInstance";
