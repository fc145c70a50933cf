// libFuzzer entry point for the manifest decoder (built with clang only).
#include "manifestmutations.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    lumivale::test::exerciseManifest(
        QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
