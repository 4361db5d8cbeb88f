// The kernel's choice.
#include "app/kernel_choice.h"

#include <cstdlib>

#include "runtime/seams.h"

namespace {

Kernel chosenAtStart() {
  std::optional<Kernel> chosen = chooseKernel(std::getenv(kKernelVariable));
  return chosen ? *chosen : *chooseKernel(nullptr);
}

}  // namespace

// Set before main, and again by the driver before the run's threads start.
Kernel kernel_choice::g_runKernel = chosenAtStart();

std::string_view kernelName(Kernel kernel) {
  switch (kernel) {
    case Kernel::Scalar: return "scalar";
    case Kernel::Sse2: return "sse2";
    case Kernel::Avx512: return "avx512";
  }
  return {};
}

bool processorRuns(Kernel kernel) {
#if defined(__x86_64__)
  __builtin_cpu_init();  // may run before the program's constructors
#endif
  if (seams::kernelHidden(static_cast<int>(kernel))) return false;
  switch (kernel) {
    case Kernel::Scalar: return true;
#if defined(__SSE2__)
    case Kernel::Sse2: return true;
#endif
#if defined(__x86_64__)
    case Kernel::Avx512: return __builtin_cpu_supports("avx512bw");
#endif
    default: return false;
  }
}

std::string runnableKernels() {
  std::string names;
  for (Kernel kernel : kKernels) {
    if (!processorRuns(kernel)) continue;
    if (!names.empty()) names += ", ";
    names += kernelName(kernel);
  }
  return names;
}

std::optional<Kernel> chooseKernel(const char* forced) {
  if (!forced || forced == kAutomaticKernel) {
    Kernel widest = Kernel::Scalar;
    for (Kernel kernel : kKernels)
      if (processorRuns(kernel)) widest = kernel;
    return widest;
  }
  for (Kernel kernel : kKernels)
    if (forced == kernelName(kernel) && processorRuns(kernel)) return kernel;
  return std::nullopt;
}

void useKernel(Kernel kernel) { kernel_choice::g_runKernel = kernel; }
