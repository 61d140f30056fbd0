#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Writes one log line to standard output, "<text> <detail>\n", and flushes it at once.
void logLine(std::string_view text, std::string_view detail);

// One line of Zorvant's own diagnostics (what the user or a developer may want to know about
// the program itself, as opposed to the log lines above) on standard error, flushed at once.
void diagnostic(std::string_view line);

// A location in URL form: "file://", the path percent-encoded byte by byte, and a trailing
// slash when the caller says the location is a folder. Nothing is asked of the file system.
std::string fileURL(const std::filesystem::path& location, bool isFolder);
