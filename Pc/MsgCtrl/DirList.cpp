#include <cstdlib>

#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsMemory.h"

VFIND_DATAW* g_pDirList = nullptr;

bool FreeDirList() {
    if (!g_pDirList) return false;
    vos::MemFree(g_pDirList);
    g_pDirList = nullptr;
    return true;
}
