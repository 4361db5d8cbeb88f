// Whole-program runs of the real binary, on every platform.
#include "app/driver.h"

#include <cstdlib>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "app/kernel_choice.h"

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

// The kernel variable set for the tool's runs while it lives.
class KernelVariable {
 public:
  explicit KernelVariable(const std::string& value) { set(value.c_str()); }
  ~KernelVariable() { set(nullptr); }

 private:
  static void set(const char* value) {
#ifdef _WIN32
    _putenv_s(kKernelVariable, value ? value : "");
#else
    value ? setenv(kKernelVariable, value, 1) : unsetenv(kKernelVariable);
#endif
  }
};

// A kernel that cannot run is refused before the file is opened, in one
// line that names those that can; every kernel that can gives the same
// bytes; "auto" names the kernel that the run picks.
TEST(Driver, TheKernelIsOneThatRunsOrTheRunIsRefused) {
  std::string program = largeProgram(300);
  std::erase(program, '\r');  // line ends to mend, a word at a time
  program += kProgram;
  ScratchDir usual;
  writeBytes(usual.file("Velmarin.asm"), program);
  const RunResult expected = runTool(usual.path);
  const std::string rewritten = readBytes(usual.file("Velmarin.asm"));
  ASSERT_NE(rewritten, program);
  for (const char* name : {"scalar", "sse2", "avx512", "auto", "bogus"}) {
    std::optional<Kernel> kernel = chooseKernel(name);
    ScratchDir dir;
    writeBytes(dir.file("Velmarin.asm"), program);
    KernelVariable variable(name);
    RunResult result = runTool(dir.path);
    EXPECT_EQ(result.exitStatus, 0) << name;
    if (!kernel) {
      EXPECT_EQ(result.output, consoleBytes(withCredits({"Kernel '" + std::string(name) +
                                                         "' named by ORRINVALE_KERNEL cannot run "
                                                         "here; kernels that can: " +
                                                         runnableKernels() + "."})))
          << name;
      EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), program) << name;
      continue;
    }
    std::string output = expected.output;
    if (std::string_view(name) == kAutomaticKernel) {
      std::string credits = consoleBytes(withCredits({}));
      output = credits + consoleBytes({"Kernel: " + std::string(kernelName(*kernel)) + "."}) +
               output.substr(credits.size());
    }
    EXPECT_EQ(result.output, output) << name;
    EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), rewritten) << name;
  }
}

}  // namespace
