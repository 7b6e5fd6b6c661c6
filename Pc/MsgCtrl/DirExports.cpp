// KovDir collects a whole device directory listing into one heap array, the
// process-wide DirList; KovDirFree releases it. The array grows by exactly one
// entry per file, each time into a new block with a full copy of the old one.
// DirList has no lock: the caller keeps KovDir, KovDirFree, KovDisconnect and
// KovChangeMode(0) from overlapping.
#include <cstring>

#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsMemory.h"
#include "vantro/vantro_files.h"

uint32_t VANTRO_STDCALL KovDirFree(void) { return FreeDirList() ? 1 : 0; }

uint32_t VANTRO_STDCALL KovDir(const VWCHAR* Pattern, uint32_t* Count, VFIND_DATAW** List) {
    KovDirFree();
    if (!Count || !List) return 0;
    *Count = 0;

    // Entries start zeroed, so what the device does not send (the reserved
    // words, the alternate name, the name area after the name) reads as 0.
    VFIND_DATAW entry;
    std::memset(&entry, 0, sizeof entry);
    uint32_t search = KovFindFirstFile(Pattern, &entry);
    if (search == 0 || search == 0xFFFFFFFFu) return 0;

    uint32_t more;
    do {
        ++*Count;
        VFIND_DATAW* grown = static_cast<VFIND_DATAW*>(vos::MemAlloc(static_cast<size_t>(*Count) * sizeof(VFIND_DATAW)));
        if (!grown) {
            // No partial listing: the call fails as if nothing matched.
            KovFindClose(search);
            FreeDirList();
            *Count = 0;
            return 0;
        }
        if (g_pDirList) {
            std::memcpy(grown, g_pDirList, static_cast<size_t>(*Count - 1) * sizeof(VFIND_DATAW));
            vos::MemFree(g_pDirList);
        }
        std::memcpy(&grown[*Count - 1], &entry, sizeof entry);
        g_pDirList = grown;
        std::memset(&entry, 0, sizeof entry);
        more = KovFindNextFile(search, &entry);
    } while (more == 1);

    KovFindClose(search);
    *List = g_pDirList;
    return 1;
}
