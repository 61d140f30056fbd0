#include <gtest/gtest.h>

#include "platform/log.h"
#include "support/temp_dir.h"

TEST(FileURL, EscapesEveryByteOutsideThePathCharacters) {
    EXPECT_EQ(fileURL("/Users/someone/dockets", true), "file:///Users/someone/dockets/");
    EXPECT_EQ(fileURL("/a b/%/\xff\n", false), "file:///a%20b/%25/%FF%0A");
    EXPECT_EQ(fileURL("/d/caf\xc3\xa9/", true), "file:///d/caf%C3%A9/");
}

TEST(FileURL, TakesTheKindFromTheCallerNotFromTheFileSystem) {
    TempDir dir;
    const auto file = dir.makeFile("notes.txt");
    // What the caller says holds, whatever is on disk, and nothing need be there at all.
    EXPECT_EQ(fileURL(file, true), "file://" + file.string() + "/");
    EXPECT_EQ(fileURL(dir.path(), false), "file://" + dir.path().string());
    EXPECT_EQ(fileURL(dir / "gone", true), "file://" + (dir / "gone").string() + "/");
    EXPECT_EQ(fileURL("/d/", true), "file:///d/");
}

TEST(LogLine, WritesOneFlushedLine) {
    testing::internal::CaptureStdout();
    logLine("⚠️ Failed to decode recent dockets:", "element 0: member \"kind\" is missing");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "⚠️ Failed to decode recent dockets: element 0: member \"kind\" is missing\n");
}
