#include "Pc/MsgCtrl/ExportTable.h"

#include <type_traits>

#include "vantro/vantro.h"

namespace {

// Bytes an argument takes on the 32-bit stdcall stack: 4 for every pointer
// and integer up to 32 bits, 8 for 64-bit integers.
template <class T>
constexpr uint32_t StackBytes() {
    return std::is_pointer<T>::value ? 4u : (sizeof(T) <= 4 ? 4u : static_cast<uint32_t>((sizeof(T) + 3) / 4 * 4));
}

template <class F>
struct ArgBytes;
template <class R, class... A>
struct ArgBytes<R (*)(A...)> {
    static constexpr uint32_t value = (0u + ... + StackBytes<A>());
};

#if !(defined(_WIN32) && !defined(_WIN64))
// On 32-bit Windows the linker checks the sizes through the decorated names;
// elsewhere the compiler does it here.
#define VX_CHECK(cname, bytes) \
    static_assert(ArgBytes<decltype(&cname)>::value == (bytes), #cname " has the wrong argument bytes");
#else
#define VX_CHECK(cname, bytes)
#endif

#define VX_J2534(cname, bytes, ordinal) VX_CHECK(cname, bytes)
#define VX_STDCALL(cname, base, bytes) VX_CHECK(cname, bytes)
#include "vantro_exports_all.inc"
#undef VX_J2534
#undef VX_STDCALL

const ExportEntry kTable[] = {
#define VX_J2534(cname, bytes, ordinal) {#cname, #cname, bytes, ordinal, false},
#define VX_STDCALL(cname, base, bytes) {#cname, #base, bytes, 0, true},
#include "vantro_exports_all.inc"
#undef VX_J2534
#undef VX_STDCALL
};

}  // namespace

const ExportEntry* GetExportTable(size_t* count) {
    *count = sizeof kTable / sizeof kTable[0];
    return kTable;
}

std::string WindowsExportName(const ExportEntry& entry) {
    if (!entry.decorated) return entry.cName;
    return "_" + std::string(entry.baseName) + "@" + std::to_string(entry.argBytes);
}
