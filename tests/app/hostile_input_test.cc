// Whole-program runs on input that a careless tool would hang or crash on.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// A line several times the scan's block and the rewrite's window (the soak
// suite's is 100 MB), after binary data.
void expectAHugeLineAndBinaryDataToBeJustText(size_t lineBytes) {
  ScratchDir dir;
  std::string binary;
  for (int i = 0; i < 1 << 16; ++i) binary.push_back(static_cast<char>(i * 7 + (i >> 8)));
  std::string hugeLine(lineBytes, 'x');
  hugeLine.replace(lineBytes / 2, 14, " _Procedure5 ");  // a reference deep inside
  std::string head = binary + "\r\n" + hugeLine + "\r\n";
  writeBytes(dir.file("Velmarin.asm"), head + "MP5\r\nMP6\r\n");
  RunResult result = runTool(dir.path);
  EXPECT_EQ(result.exitStatus, 0);
  std::string after = readBytes(dir.file("Velmarin.asm"));
  const std::string tail = "MP5\r\n; MP6; AUTOMATICALLY REMOVED\r\n";
  ASSERT_GT(after.size(), hugeLine.size() + tail.size());
  EXPECT_EQ(after.substr(after.size() - tail.size()), tail);
  EXPECT_EQ(after.find(hugeLine), after.size() - tail.size() - 2 - hugeLine.size());
}
TEST(HostileInput, HugeLineAndBinaryData) { expectAHugeLineAndBinaryDataToBeJustText(5 << 20); }
TEST(SoakHostileInput, HundredMegabyteLineAndBinaryData) {
  expectAHugeLineAndBinaryDataToBeJustText(100 << 20);
}

// Runs of a hundred thousand and of three million digits, in labels,
// references and invocations, under a small stack (256 KiB on POSIX, the
// main thread's 1 MiB on Windows): each is taken whole,
// and a short reference after a long one on the same line still counts.
TEST(HostileInput, DigitRunsOfAnyLengthUnderASmallStack) {
  for (size_t digits : {100000u, 3000000u}) {
    ScratchDir dir;
    const std::string n(digits, '9');
    const std::string program =
        "macro MP" + n + "{\r\n_Procedure" + n +
        ":\r\n call _Procedure5\r\n}\r\n"
        "macro MP5{\r\n_Procedure5:\r\n}\r\nmacro MP6{\r\n_Procedure6:\r\n}\r\n"
        "dq _Procedure" +
        n + ", _Procedure6\r\n";
    writeBytes(dir.file("Velmarin.asm"), program + "MP" + n + "\r\nMP5\r\nMP6\r\nMP7\r\n");
    RunResult result = runTool(dir.path, {}, {.stack = 256 << 10});
    EXPECT_EQ(result.exitStatus, 0) << digits;
    EXPECT_EQ(result.output,
              consoleBytes(withCredits(
                  {"Found 3 procedure macros.", "Removed 1 out of 4 used procedure macros."})))
        << digits;
    EXPECT_EQ(readBytes(dir.file("Velmarin.asm")),
              program + "MP" + n + "\r\nMP5\r\nMP6\r\n; MP7; AUTOMATICALLY REMOVED\r\n")
        << digits;
  }
}

// A chain that each procedure extends: no recursion that grows with it.
void expectAProcedureChainToBeFollowed(int length) {
  ScratchDir dir;
  std::string text = "call _Procedure1\r\n";
  for (int p = 1; p <= length; ++p) {
    std::string n = std::to_string(p), next = std::to_string(p + 1);
    text += "macro MP" + n + "{\r\n_Procedure" + n + ":\r\ncall _Procedure" + next + "\r\n}\r\n";
  }
  for (int p = 0; p <= length; ++p) text += "MP" + std::to_string(p) + "\r\n";
  writeBytes(dir.file("Velmarin.asm"), text);
  RunResult result = runTool(dir.path);
  const std::string n = std::to_string(length);
  EXPECT_EQ(result.output,
            consoleBytes(withCredits(
                {"Found " + n + " procedure macros.",
                 "Removed 1 out of " + std::to_string(length + 1) + " used procedure macros."})));
}
TEST(HostileInput, ProcedureChain) { expectAProcedureChainToBeFollowed(100000); }
TEST(SoakHostileInput, MillionProcedureChain) { expectAProcedureChainToBeFollowed(1000000); }

}  // namespace
