// One command exchange with the device, under the communication mutex that
// all processes share.
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"

// Encodes code and request once, then runs up to retries + 1 attempts; a
// nonzero trace passes every request sent and response fetched to ComReport.
// Returns 0 or the last attempt's error.
uint32_t ExecuteCommand(uint32_t code, CCmdCore* request, CCmdCore* response, uint32_t retries,
                        uint32_t trace);

uint32_t LockCommunication(uint32_t timeoutMs);
uint32_t UnlockCommunication();

// Test hook: this process opens the communication mutex under the given name
// instead of "DiZedoI/F-CommunicationMutex" (null or "" restores it). It takes
// effect when the mutex is opened, at the process's first exchange. Tests that
// kill a process holding the mutex use a name of their own, so that no other
// test process running at the same time meets the abandoned mutex.
void SetCommMutexNameForTests(const char* name);
