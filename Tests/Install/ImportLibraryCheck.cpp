// Links with the Windows import library by the public headers' names and
// takes the address of every export. The build fails when a name the header
// declares is not in the import library (or has other argument bytes); the
// program does not start when an imported name is not exported by the DLL.
// Run, it calls two exports and checks their answers.
#include <cstdio>

#include "vantro/vantro.h"

namespace {

#define VX_J2534(cname, bytes, ordinal) reinterpret_cast<const void*>(&cname),
#define VX_STDCALL(cname, base, bytes) reinterpret_cast<const void*>(&cname),
const void* const kExports[] = {
#include "vantro_exports_all.inc"
};
#undef VX_J2534
#undef VX_STDCALL

}  // namespace

int main() {
    int failures = 0;
    for (const void* address : kExports)
        if (!address) ++failures;
    // A null output pointer is refused with 0xa00d0025.
    const uint32_t refused = KovGetCommDevice(nullptr);
    if (refused != 0xa00d0025u) {
        std::printf("KovGetCommDevice(NULL) returned 0x%08x\n", static_cast<unsigned>(refused));
        ++failures;
    }
    // The J2534 entry points are there under their plain names: a close of a
    // device never opened is refused.
    if (PassThruClose(0x1234) == 0) {
        std::printf("PassThruClose of no device succeeded\n");
        ++failures;
    }
    std::printf("%u exports linked by their header names, %d failures\n",
                static_cast<unsigned>(sizeof kExports / sizeof kExports[0]), failures);
    return failures == 0 ? 0 : 1;
}
