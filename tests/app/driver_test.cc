// Whole-program runs of the real binary, on every platform.
#include "app/driver.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/app/driver_program.h"
#include "tests/test_support.h"

namespace {

TEST(Driver, NormalRunPrintsSixLinesAndIgnoresArguments) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"--help", "other.asm"}}) {
    ScratchDir dir;
    writeBytes(dir.file("Velmarin.asm"), kProgram);
    RunResult result = runTool(dir.path, args);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output,
              consoleBytes(withCredits(
                  {"Found 3 procedure macros.", "Removed 1 out of 3 used procedure macros."})));
    EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), kRewritten);
  }
}

TEST(Driver, WhatCannotBeOpenedIsReportedTwiceAndNothingIsCreated) {
  const std::string notFound = "File 'Velmarin.asm' not found.";
  for (const std::string kind : {"missing", "directory"}) {
    ScratchDir dir;
    if (kind == "directory") std::filesystem::create_directory(dir.file("Velmarin.asm"));
    RunResult result = runTool(dir.path);
    EXPECT_EQ(result.exitStatus, 0) << kind;
    EXPECT_EQ(result.output, consoleBytes(withCredits({notFound, notFound}))) << kind;
    EXPECT_EQ(listDirectory(dir.path).size(), kind == "missing" ? 0u : 1u) << kind;
  }
}

TEST(Driver, ReadOnlyFileGetsOnlyTheFoundLine) {
  ScratchDir dir;
  writeBytes(dir.file("Velmarin.asm"), kProgram);
  std::filesystem::permissions(dir.file("Velmarin.asm"), std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::group_read |
                                                             std::filesystem::perms::others_read);
  RunResult result = runTool(dir.path);
  EXPECT_EQ(result.output, consoleBytes(withCredits({"Found 3 procedure macros."})));
  EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), kProgram);
}

}  // namespace
