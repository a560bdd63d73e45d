// Chooses the kernel set once: VELTA_KERNEL names one for tests and
// benchmarks, otherwise the best the CPU runs. Codecs read the choice with
// one relaxed load; a later choice (NLS_UseKernel) takes effect at the next
// call of each conversion.
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "common/ascii_runs.h"
#include "common/text_kernels.h"
#include "common/units.h"
#include "velta/nls.h"

namespace velta {

namespace {

// A set whose only kernels of its own widen and narrow ASCII runs; it has no
// UTF-8 or UCS-4 kernels, and copies UTF-16 and takes UTF-8 straight to
// single bytes as every set does.
constexpr TextKernels asciiRunKernels(const char* name, decltype(TextKernels::widenAscii) widen,
                                      decltype(TextKernels::narrowAscii) narrow) {
    TextKernels set{};
    set.name = name;
    set.widenAscii = widen;
    set.narrowAscii = narrow;
    set.copyUtf16 = copyUnitsWithoutSurrogates;
    set.narrowUtf8Window = narrowUtf8WindowPortable;
    return set;
}

}  // namespace

uint32_t narrowUtf8WindowPortable(const unsigned char* source, uint32_t length,
                                  const Utf8Window& window, unsigned char* target, uint32_t room,
                                  uint32_t* written) {
    uint32_t in = 0, out = 0;
    while (in < length && out < room) {
        const unsigned char lead = source[in];
        if (lead < 0x80) {
            target[out++] = lead;
            ++in;
            continue;
        }
        const WindowByte character = windowByteAt(window, source + in, length - in);
        if (character.byte == 0) break;
        target[out++] = character.byte;
        in += character.length;
    }
    *written = out;
    return in;
}

const TextKernels kScalarKernels =
    asciiRunKernels("scalar", widenAsciiRunScalar, narrowAsciiRunScalar);

namespace {

#if defined(__SSE2__)
const TextKernels kSse2Kernels = asciiRunKernels("sse2", widenAsciiRunVector, narrowAsciiRunVector);
#endif

// Best last.
const TextKernels* const kSets[] = {
    &kScalarKernels,
#if defined(__SSE2__)
    &kSse2Kernels,
#endif
};

const TextKernels* namedSet(const char* name) {
    if (name == nullptr) return nullptr;
    for (const TextKernels* set : kSets)
        if (strcmp(set->name, name) == 0) return set;
    const TextKernels* avx2 = avx2Kernels();
    if (avx2 != nullptr && strcmp(avx2->name, name) == 0) return avx2;
    return nullptr;
}

const TextKernels* bestSet() {
    const TextKernels* forced = namedSet(getenv("VELTA_KERNEL"));
    if (forced != nullptr) return forced;
    const TextKernels* avx2 = avx2Kernels();
    return avx2 != nullptr ? avx2 : kSets[sizeof kSets / sizeof kSets[0] - 1];
}

std::atomic<const TextKernels*> gInUse{nullptr};

}  // namespace

const TextKernels& textKernels() {
    const TextKernels* set = gInUse.load(std::memory_order_relaxed);
    if (set != nullptr) return *set;
    set = bestSet();  // racing first calls choose the same set
    gInUse.store(set, std::memory_order_relaxed);
    return *set;
}

bool useTextKernels(const char* name) {
    const TextKernels* set = name == nullptr ? bestSet() : namedSet(name);
    if (set == nullptr) return false;
    gInUse.store(set, std::memory_order_relaxed);
    return true;
}

}  // namespace velta

NLS_Status NLS_UseKernel(const char* name) {
    return velta::useTextKernels(name) ? NLS_SUCCESS : NLS_INVALID_PARAMETER;
}

const char* NLS_KernelInUse(void) {
    return velta::textKernels().name;
}
