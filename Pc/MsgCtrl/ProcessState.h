// The process-wide objects of the library and who owns them.
//
//   g_pMessage, g_pFrameCtrl  created by the first exchange (CreateCommObjects),
//                             deleted by ReleaseDeviceLink and at detach;
//   g_hCommMutex              opened by the first LockCommunication, closed at
//                             detach;
//   g_pDirList, g_dwDirCount  the KovDir listing, freed with the link.
//
// g_objectsLock (process-local) guards creation and deletion of the two
// objects so that two threads making their first call at once build one of
// each. It is never held across an exchange.
#pragma once

#include <cstdint>
#include <mutex>

#include "Pc/Os/OsTypes.h"
#include "vantro/vantro_types.h"

class CMessage;
class FrameCtrl;

extern CMessage* g_pMessage;
extern FrameCtrl* g_pFrameCtrl;
extern vos::OsHandle g_hCommMutex;
extern VFIND_DATAW* g_pDirList;
extern std::mutex g_objectsLock;

constexpr char kCommMutexName[] = "DiZedoI/F-CommunicationMutex";

// Creates the message layer and then the frame controller if missing.
uint32_t CreateCommObjects();
// Deletes the frame controller (closing its link), the message layer and the
// KovDir listing; a second call finds nothing. Always 0.
uint32_t ReleaseDeviceLink();
// Frees the KovDir listing; true when there was one.
bool FreeDirList();
