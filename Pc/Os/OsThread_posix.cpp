// Win32 threads on POSIX threads.
//
// A thread object is shared by its handle and the running thread and freed by
// whichever lets go last. The thread records its end and exit code on the way
// out, also when it is cancelled, so that waits see a terminated thread end.
//
// ThreadTerminate cancels the thread: it stops at its next cancellation point
// (every wait, sleep and read of the platform layer is one) and unwinds its
// stack, running destructors, with the exit code given to ThreadTerminate.
// The terminating thread waits up to one second (real time) for that and
// joins it; a thread that has not ended by then is detached and left to end
// on its own.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsThread.h"
#include "Pc/Os/OsTime_posix.h"

namespace vos {
namespace {

constexpr uint32_t kThreadMagic = 0x54687244u;  // "ThrD"
constexpr uint32_t kThreadDead = 0xDEAD7412u;
constexpr uint32_t kStillActive = 259;            // STILL_ACTIVE
constexpr uint32_t kTerminateGraceMs = 1000;      // real time

struct Thread {
    uint32_t magic = kThreadMagic;
    pthread_t tid{};
    pthread_mutex_t lock;
    pthread_cond_t ended;
    OsThreadProc proc = nullptr;
    void* arg = nullptr;
    bool finished = false;
    bool released = false;  // joined or detached
    uint32_t exitCode = kStillActive;
    uint32_t terminateCode = 0;
    uint32_t returnCode = 0;
    bool returned = false;
    int refs = 2;  // the handle and the running thread

    Thread() {
        pthread_mutex_init(&lock, nullptr);
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&ended, &attr);
        pthread_condattr_destroy(&attr);
    }
    ~Thread() {
        pthread_cond_destroy(&ended);
        pthread_mutex_destroy(&lock);
    }
};

Thread* AsThread(OsHandle handle) {
    Thread* t = static_cast<Thread*>(handle);
    return (t && t->magic == kThreadMagic) ? t : nullptr;
}

void Unref(Thread* t) {
    pthread_mutex_lock(&t->lock);
    bool last = --t->refs == 0;
    pthread_mutex_unlock(&t->lock);
    if (last) {
        t->magic = kThreadDead;
        delete t;
    }
}

// Records the end of the thread, after its procedure returned or its stack
// was unwound by cancellation: a thread-specific value's destructor runs in
// both cases, once the stack is gone.
pthread_key_t g_endKey;
pthread_once_t g_endKeyOnce = PTHREAD_ONCE_INIT;

void OnThreadEnd(void* p) {
    Thread* t = static_cast<Thread*>(p);
    pthread_mutex_lock(&t->lock);
    t->finished = true;
    t->exitCode = t->returned ? t->returnCode : t->terminateCode;
    pthread_cond_broadcast(&t->ended);
    pthread_mutex_unlock(&t->lock);
    Unref(t);
}

void CreateEndKey() { pthread_key_create(&g_endKey, OnThreadEnd); }

void* ThreadStart(void* p) {
    Thread* t = static_cast<Thread*>(p);
    pthread_setspecific(g_endKey, t);
    uint32_t code = t->proc(t->arg);
    pthread_mutex_lock(&t->lock);
    t->returnCode = code;
    t->returned = true;
    pthread_mutex_unlock(&t->lock);
    return nullptr;
}

// Holds a thread's lock; releases it also when a cancelled waiter unwinds.
class LockGuard {
public:
    explicit LockGuard(pthread_mutex_t* m) : m_m(m) { pthread_mutex_lock(m_m); }
    ~LockGuard() { pthread_mutex_unlock(m_m); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    pthread_mutex_t* m_m;
};

// Waits up to realMs (kOsInfinite: no limit) for the end; the caller holds
// the lock. True when the thread has ended.
bool WaitEndLocked(Thread* t, uint32_t realMs) {
    int64_t deadline = realMs == kOsInfinite ? 0 : posix::DeadlineNs(realMs);
    while (!t->finished) {
        if (realMs == 0) return false;
        if (realMs == kOsInfinite) {
            pthread_cond_wait(&t->ended, &t->lock);
        } else {
            struct timespec until = posix::NsToTimespec(deadline);
            if (pthread_cond_timedwait(&t->ended, &t->lock, &until) == ETIMEDOUT) return t->finished;
        }
    }
    return true;
}

// Joins an ended thread or detaches a running one, once.
void ReleaseThread(Thread* t) {
    bool join;
    {
        LockGuard lock(&t->lock);
        if (t->released) return;
        t->released = true;
        join = t->finished;
    }
    if (join) pthread_join(t->tid, nullptr);
    else pthread_detach(t->tid);
}

}  // namespace

OsHandle ThreadCreate(OsThreadProc proc, void* arg) {
    if (!proc) return nullptr;
    pthread_once(&g_endKeyOnce, CreateEndKey);
    Thread* t = new (std::nothrow) Thread();
    if (!t) return nullptr;
    t->proc = proc;
    t->arg = arg;
    if (pthread_create(&t->tid, nullptr, ThreadStart, t) != 0) {
        delete t;
        return nullptr;
    }
    return t;
}

uint32_t ThreadWait(OsHandle handle, uint32_t timeoutMs) {
    Thread* t = AsThread(handle);
    if (!t) return kWaitFailed;
    LockGuard lock(&t->lock);
    return WaitEndLocked(t, OsRealMs(timeoutMs)) ? kWaitObject0 : kWaitTimeout;
}

bool ThreadTerminate(OsHandle handle, uint32_t exitCode) {
    Thread* t = AsThread(handle);
    if (!t) return false;
    {
        LockGuard lock(&t->lock);
        if (t->finished) return true;
        t->terminateCode = exitCode;
    }
    if (pthread_equal(t->tid, pthread_self())) pthread_exit(nullptr);
    if (pthread_cancel(t->tid) != 0) return false;
    {
        LockGuard lock(&t->lock);
        WaitEndLocked(t, kTerminateGraceMs);
    }
    ReleaseThread(t);
    return true;
}

bool ThreadGetExitCode(OsHandle handle, uint32_t* exitCode) {
    Thread* t = AsThread(handle);
    if (!t || !exitCode) return false;
    LockGuard lock(&t->lock);
    *exitCode = t->finished ? t->exitCode : kStillActive;
    return true;
}

void ThreadClose(OsHandle handle) {
    Thread* t = AsThread(handle);
    if (!t) return;
    ReleaseThread(t);
    Unref(t);
}

uint32_t ThreadCurrentId() {
    static thread_local uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
    return id;
}

}  // namespace vos
