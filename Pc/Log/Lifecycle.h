// The library's process and thread notifications, called by the entry point
// (DllMain on Windows, the shared object's constructor and destructor
// elsewhere).
#pragma once

#include <cstdint>

// Empties the process-wide state: the pass-thru state and its last-error
// texts, the KovDir listing, message layer, frame controller and mutex
// handle pointers, and the call log's mode.
void ProcessAttach();
// Deletes the frame controller (closing its link), then the message layer,
// frees the KovDir listing and closes the communication mutex handle.
void ProcessDetach();
void ThreadAttach();
void ThreadDetach();
// A notification with any other reason value.
void OtherNotification(uint32_t reason);
