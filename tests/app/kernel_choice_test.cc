// The choice of kernel: one priority list, and a refusal, never a silent
// fallback, for a name that cannot run.
#include "app/kernel_choice.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/test_seams.h"

namespace {

std::optional<Kernel> chosen(std::string_view name) {
  return chooseKernel(std::string(name).c_str());
}

TEST(KernelChoice, TheWidestThatRunsUnlessOneIsNamedAndCanRun) {
  Kernel widest = Kernel::Scalar;
  for (Kernel kernel : kKernels) {
    if (processorRuns(kernel)) widest = kernel;
    EXPECT_EQ(chosen(kernelName(kernel)),
              processorRuns(kernel) ? std::optional(kernel) : std::nullopt)
        << kernelName(kernel);
  }
  EXPECT_EQ(chooseKernel(nullptr), widest);
  EXPECT_EQ(chosen(kAutomaticKernel), widest);
  for (const char* name : {"bogus", "SSE2", "", " scalar", "avx"})
    EXPECT_EQ(chosen(name), std::nullopt) << name;
  EXPECT_EQ(runnableKernels().substr(0, 6), "scalar");
}

TEST(KernelChoice, AKernelThatTheProcessorCannotRunIsRefused) {
  for (Kernel hidden : {Kernel::Sse2, Kernel::Avx512}) {
    if (!processorRuns(hidden)) continue;
    hideKernel(static_cast<int>(hidden));
    EXPECT_EQ(chosen(kernelName(hidden)), std::nullopt);
    EXPECT_EQ(runnableKernels().find(kernelName(hidden)), std::string::npos);
    EXPECT_NE(chooseKernel(nullptr), hidden);
    hideKernel(-1);
  }
}

}  // namespace
