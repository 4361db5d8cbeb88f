// The choice of the classification kernel, made once per run from one
// priority list: the widest kernel that this build holds and the processor
// runs, unless ORRINVALE_KERNEL names another. A name that is no kernel of
// this build, or one the processor cannot run, is refused, never ignored:
// a forced kernel is the kernel that every classification runs.
#ifndef ORRINVALE_APP_KERNEL_CHOICE_H_
#define ORRINVALE_APP_KERNEL_CHOICE_H_

#include <optional>
#include <string>
#include <string_view>

// The kernels, narrowest first: the priority list, read backwards.
enum class Kernel { Scalar, Sse2, Avx512 };
inline constexpr Kernel kKernels[] = {Kernel::Scalar, Kernel::Sse2, Kernel::Avx512};

// The environment variable that forces a kernel, and the value that asks
// for the usual choice by name (so that a run can say which it picked).
inline constexpr const char* kKernelVariable = "ORRINVALE_KERNEL";
inline constexpr std::string_view kAutomaticKernel = "auto";

std::string_view kernelName(Kernel kernel);
// Whether this build holds the kernel and the processor runs it.
bool processorRuns(Kernel kernel);
// The kernels that can run here, by name, narrowest first: "scalar, sse2".
std::string runnableKernels();

// The kernel that forced names (null or kAutomaticKernel: the widest that
// runs), or none where it names no kernel that can run here.
std::optional<Kernel> chooseKernel(const char* forced);

// The kernel of this run: at first the choice that the environment makes
// (the widest, where it refuses); useKernel sets it, before any thread of
// the run starts.
namespace kernel_choice {
extern Kernel g_runKernel;
}
inline Kernel runKernel() { return kernel_choice::g_runKernel; }
void useKernel(Kernel kernel);

#endif  // ORRINVALE_APP_KERNEL_CHOICE_H_
