// The named mutex on POSIX: a robust, process-shared, recursive pthread mutex
// in a POSIX shared-memory object.
//
// Every opener creates the object if needed and sizes it (sizing to the same
// size changes nothing, so racing openers agree). The first opener to move
// the state word from "empty" to "initialising" (with its process id)
// initialises the mutex and then marks it ready; the others wait for that. If
// the initialising process died half-way, a waiter takes the job over.
//
// A robust mutex whose owner died (thread or process) gives EOWNERDEAD to the
// next locker, which marks it consistent and owns it: that is Win32's
// WAIT_ABANDONED, reported once. Long waits run in slices so that the thread
// stays cancellable. (pthread_mutex_timedlock rather than clocklock: sanitizers
// know the former.)
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsNamedMutex.h"
#include "Pc/Os/OsThread.h"
#include "Pc/Os/OsTime_posix.h"

namespace vos {
namespace {

constexpr uint32_t kMutexMagic = 0x4E6D7458u;  // "NmtX"
constexpr uint32_t kMutexDead = 0xDEAD4D58u;
constexpr uint64_t kStateEmpty = 0;
constexpr uint64_t kStateInitialising = 1;
constexpr uint64_t kStateReady = 2;
constexpr uint32_t kInitWaitMs = 5000;  // real time
constexpr int64_t kSliceNs = 50 * 1000000LL;

struct SharedMutex {
    uint64_t state;  // low 32 bits: kState*, high 32 bits: initialiser's pid
    pthread_mutex_t mutex;
    // The owner as (pid << 32 | thread id) and its recursion depth, written
    // only by the owner. They let a release by a thread that does not own the
    // mutex fail without touching it, as ReleaseMutex does. Both are read
    // by threads that do not own the mutex, so every access is atomic.
    uint64_t owner;
    uint32_t depth;
};

uint64_t Me() {
    return (static_cast<uint64_t>(static_cast<uint32_t>(getpid())) << 32) | ThreadCurrentId();
}

// Books an acquisition; the caller owns the mutex. After an abandonment the
// dead owner's record is stale and starts over.
void BookAcquired(SharedMutex* s, bool abandoned) {
    uint64_t me = Me();
    if (!abandoned && __atomic_load_n(&s->owner, __ATOMIC_RELAXED) == me &&
        __atomic_load_n(&s->depth, __ATOMIC_RELAXED) > 0) {
        __atomic_add_fetch(&s->depth, 1, __ATOMIC_RELAXED);
        return;
    }
    __atomic_store_n(&s->depth, 1u, __ATOMIC_RELAXED);
    __atomic_store_n(&s->owner, me, __ATOMIC_RELAXED);
}

struct NamedMutex {
    uint32_t magic = kMutexMagic;
    SharedMutex* shared = nullptr;
};

NamedMutex* AsMutex(OsHandle handle) {
    NamedMutex* m = static_cast<NamedMutex*>(handle);
    return (m && m->magic == kMutexMagic) ? m : nullptr;
}

std::string ShmName(const char* name) {
    std::string out = "/vantro-mutex.";
    for (const char* p = name; *p; ++p) {
        if (*p == '/') out += "%2F";
        else if (*p == '%') out += "%25";
        else out += *p;
    }
    return out;
}

int OpenObject(const std::string& shmName) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Every user of the machine shares the mutex, whatever the umask.
            (void)fchmod(fd, 0666);
            return fd;
        }
        if (errno != EEXIST) return -1;
        fd = shm_open(shmName.c_str(), O_RDWR | O_CLOEXEC, 0);
        if (fd >= 0 || errno != ENOENT) return fd;
        // Removed between the two calls: try again.
    }
    return -1;
}

bool InitMutex(pthread_mutex_t* m) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              pthread_mutex_init(m, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

bool ProcessIsGone(uint32_t pid) { return pid != 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

// Brings the shared mutex to the ready state exactly once among all openers.
bool EnsureInitialised(SharedMutex* s) {
    const uint64_t mine = (static_cast<uint64_t>(static_cast<uint32_t>(getpid())) << 32) | kStateInitialising;
    int64_t giveUp = posix::DeadlineNs(kInitWaitMs);
    for (;;) {
        uint64_t v = __atomic_load_n(&s->state, __ATOMIC_ACQUIRE);
        uint64_t state = v & 0xFFFFFFFFu;
        if (state == kStateReady) return true;
        bool take = state == kStateEmpty ||
                    (state == kStateInitialising && ProcessIsGone(static_cast<uint32_t>(v >> 32)));
        if (take && __atomic_compare_exchange_n(&s->state, &v, mine, false, __ATOMIC_ACQ_REL,
                                                __ATOMIC_ACQUIRE)) {
            if (!InitMutex(&s->mutex)) {
                __atomic_store_n(&s->state, kStateEmpty, __ATOMIC_RELEASE);
                return false;
            }
            __atomic_store_n(&s->state, kStateReady, __ATOMIC_RELEASE);
            return true;
        }
        if (posix::MonoNowNs() > giveUp) return false;
        struct timespec pause = {0, 1000000L};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

OsHandle NamedMutexCreate(const char* name) {
    if (!name || !*name) return nullptr;
    std::string shmName = ShmName(name);
    if (shmName.size() > 250) return nullptr;
    int fd = OpenObject(shmName);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 ||
        (st.st_size < static_cast<off_t>(sizeof(SharedMutex)) && ftruncate(fd, sizeof(SharedMutex)) != 0)) {
        close(fd);
        return nullptr;
    }
    void* map = mmap(nullptr, sizeof(SharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED) return nullptr;
    SharedMutex* shared = static_cast<SharedMutex*>(map);
    NamedMutex* m = EnsureInitialised(shared) ? new (std::nothrow) NamedMutex() : nullptr;
    if (!m) {
        munmap(map, sizeof(SharedMutex));
        return nullptr;
    }
    m->shared = shared;
    return m;
}

uint32_t NamedMutexWait(OsHandle handle, uint32_t timeoutMs) {
    NamedMutex* m = AsMutex(handle);
    if (!m) return kWaitFailed;
    pthread_mutex_t* mutex = &m->shared->mutex;
    uint32_t realMs = OsRealMs(timeoutMs);
    // A first try takes a free or abandoned mutex at once.
    int rc = pthread_mutex_trylock(mutex);
    if (rc == EBUSY && realMs == 0) return kWaitTimeout;
    if (rc == EBUSY) {
        // The deadline is monotonic; each slice is handed to
        // pthread_mutex_timedlock, which takes the real-time clock (a clock
        // step disturbs one slice only).
        int64_t deadline = realMs == kOsInfinite ? INT64_MAX : posix::DeadlineNs(realMs);
        for (;;) {
            pthread_testcancel();
            int64_t now = posix::MonoNowNs();
            int64_t slice = deadline - now > kSliceNs ? kSliceNs : deadline - now;
            struct timespec ts;
            clock_gettime(CLOCK_REALTIME, &ts);
            int64_t until = static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec + (slice > 0 ? slice : 0);
            ts = posix::NsToTimespec(until);
            rc = pthread_mutex_timedlock(mutex, &ts);
            if (rc != ETIMEDOUT) break;
            if (posix::MonoNowNs() >= deadline) return kWaitTimeout;
        }
    }
    if (rc == 0) {
        BookAcquired(m->shared, false);
        return kWaitObject0;
    }
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(mutex);
        BookAcquired(m->shared, true);
        return kWaitAbandoned;
    }
    return kWaitFailed;
}

bool NamedMutexRelease(OsHandle handle) {
    NamedMutex* m = AsMutex(handle);
    if (!m) return false;
    SharedMutex* s = m->shared;
    if (__atomic_load_n(&s->owner, __ATOMIC_RELAXED) != Me() || __atomic_load_n(&s->depth, __ATOMIC_RELAXED) == 0)
        return false;
    if (__atomic_sub_fetch(&s->depth, 1u, __ATOMIC_RELAXED) == 0) __atomic_store_n(&s->owner, 0, __ATOMIC_RELAXED);
    return pthread_mutex_unlock(&s->mutex) == 0;
}

void NamedMutexClose(OsHandle handle) {
    NamedMutex* m = AsMutex(handle);
    if (!m) return;
    // A mutex that a thread of this process still owns stays mapped: the
    // kernel marks it abandoned through that mapping when the thread ends
    // (Win32 too keeps an owned mutex alive after its handle is closed).
    uint64_t owner = __atomic_load_n(&m->shared->owner, __ATOMIC_RELAXED);
    if (owner >> 32 != static_cast<uint32_t>(getpid())) munmap(m->shared, sizeof(SharedMutex));
    m->magic = kMutexDead;
    delete m;
}

void NamedMutexRemove(const char* name) {
    if (name && *name) shm_unlink(ShmName(name).c_str());
}

}  // namespace vos
