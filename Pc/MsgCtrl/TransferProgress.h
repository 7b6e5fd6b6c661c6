// Progress of long copies (KovGetFile, KovPutFile, KovVupPutFile) for the
// library's own tools. Not exported: a program that links the library's core
// sets one callback for the whole process; the copies call it after every
// chunk with the bytes done so far and the total (the file size where the
// copy knows it, else 0). The callback runs on the copying thread, outside
// the communication mutex, and must not call the copies again.
#pragma once

#include <cstdint>
#include <mutex>

using TransferProgressCallback = void (*)(void* user, uint64_t done, uint64_t total);

namespace transfer_progress {

struct State {
    std::mutex lock;
    TransferProgressCallback callback = nullptr;
    void* user = nullptr;
};

inline State& TheState() {
    static State state;
    return state;
}

}  // namespace transfer_progress

// Null removes the callback.
inline void SetTransferProgressCallback(TransferProgressCallback cb, void* user) {
    transfer_progress::State& state = transfer_progress::TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.callback = cb;
    state.user = user;
}

// Called by the copies after each chunk.
inline void ReportTransferProgress(uint64_t done, uint64_t total) {
    transfer_progress::State& state = transfer_progress::TheState();
    TransferProgressCallback callback;
    void* user;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        callback = state.callback;
        user = state.user;
    }
    if (callback) callback(user, done, total);
}
