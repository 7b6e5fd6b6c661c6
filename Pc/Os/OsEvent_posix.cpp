// Win32 events on POSIX threads.
//
// One process-wide lock guards every event. A waiting thread has a condition
// variable of its own and links it into the list of each event it waits on;
// EventSet marks the event and wakes every linked waiter, and each woken
// waiter checks its events again in index order. An auto-reset event is reset
// by the waiter that takes it, so exactly one waiter gets each set.
//
// Only raw pthread waits are used: pthread_cond_wait and
// pthread_cond_timedwait are cancellation points, and a cancelled waiter
// unlinks itself and releases the lock while its stack unwinds (the guard
// below), so ThreadTerminate can stop a thread that waits here.
//
// EventSet wakes the waiters after it has released the lock: a waiter woken
// while the setter still held it would only block on the lock at once and
// need a second wake-up. The setter counts the wake-ups it owes in each
// waiter (under the lock) and a waiter that leaves waits for that count to
// drop to zero before its condition variable goes away.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsEvent_posix.h"
#include "Pc/Os/OsTime_posix.h"

namespace vos {
namespace posix {

constexpr uint32_t kEventMagic = 0x45764E74u;  // "EvNt"
constexpr uint32_t kEventDead = 0xDEADE7E7u;
constexpr uint32_t kMaxWaitObjects = 64;

struct Event {
    uint32_t magic = kEventMagic;
    bool manualReset = false;
    bool signalled = false;
    bool closed = false;      // handle closed while waiters were linked
    EventLink* head = nullptr;
};

namespace {

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

Event* AsEvent(OsHandle handle) {
    Event* e = static_cast<Event*>(handle);
    return (e && e->magic == kEventMagic) ? e : nullptr;
}

void Wake(EventWaiter* w) {
    if (w->wakeFd >= 0) {
        uint64_t one = 1;
        ssize_t n = write(w->wakeFd, &one, sizeof one);
        (void)n;  // a full eventfd is already readable
    } else {
        pthread_cond_signal(&w->cond);
    }
}

// Called without g_lock by a waiter that has unlinked itself: no new
// wake-up can be promised to it, so it only waits for those under way.
void AwaitPendingWakes(EventWaiter* w) {
    while (__atomic_load_n(&w->pendingWakes, __ATOMIC_ACQUIRE) != 0) sched_yield();
}

// The caller holds g_lock.
void Link(Event* e, EventLink* link, EventWaiter* w) {
    link->waiter = w;
    link->event = e;
    link->prev = nullptr;
    link->next = e->head;
    if (e->head) e->head->prev = link;
    e->head = link;
}

// The caller holds g_lock. Frees an event closed while it was waited on once
// its last waiter is gone.
void Unlink(EventLink* link) {
    Event* e = link->event;
    if (!e) return;
    if (link->prev) link->prev->next = link->next;
    else e->head = link->next;
    if (link->next) link->next->prev = link->prev;
    link->event = nullptr;
    link->prev = link->next = nullptr;
    if (e->closed && !e->head) delete e;
}

// Holds g_lock and the waiter's links for one wait; undoes both when the
// wait returns or the thread is cancelled inside it.
class WaitGuard {
public:
    WaitGuard() { pthread_mutex_lock(&g_lock); }
    ~WaitGuard() {
        for (uint32_t i = 0; i < m_linked; ++i) Unlink(&m_links[i]);
        pthread_mutex_unlock(&g_lock);
        if (m_condReady) {
            AwaitPendingWakes(&m_waiter);
            pthread_cond_destroy(&m_waiter.cond);
        }
    }
    WaitGuard(const WaitGuard&) = delete;
    WaitGuard& operator=(const WaitGuard&) = delete;

    void LinkAll(Event* const* events, uint32_t count) {
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&m_waiter.cond, &attr);
        pthread_condattr_destroy(&attr);
        m_condReady = true;
        for (uint32_t i = 0; i < count; ++i) Link(events[i], &m_links[i], &m_waiter);
        m_linked = count;
    }
    bool Linked() const { return m_condReady; }
    EventWaiter& Waiter() { return m_waiter; }

private:
    EventWaiter m_waiter;
    EventLink m_links[kMaxWaitObjects];
    uint32_t m_linked = 0;
    bool m_condReady = false;
};

}  // namespace

bool EventWatch::Start(OsHandle handle, int wakeFd) {
    Stop();
    pthread_mutex_lock(&g_lock);
    Event* e = AsEvent(handle);
    if (e) {
        m_waiter.wakeFd = wakeFd;
        Link(e, &m_link, &m_waiter);
        m_active = true;
        if (e->signalled) Wake(&m_waiter);
    }
    pthread_mutex_unlock(&g_lock);
    return e != nullptr;
}

void EventWatch::Stop() {
    if (!m_active) return;
    pthread_mutex_lock(&g_lock);
    Unlink(&m_link);
    m_active = false;
    pthread_mutex_unlock(&g_lock);
    AwaitPendingWakes(&m_waiter);
}

}  // namespace posix

using posix::Event;

OsHandle EventCreate(bool manualReset, bool initiallySignalled) {
    Event* e = new (std::nothrow) Event();
    if (!e) return nullptr;
    e->manualReset = manualReset;
    e->signalled = initiallySignalled;
    return e;
}

bool EventSet(OsHandle handle) {
    // Waiters to wake once the lock is released; beyond this many (rare) the
    // rest are woken under the lock.
    constexpr uint32_t kDeferred = 8;
    posix::EventWaiter* later[kDeferred];
    uint32_t count = 0;
    pthread_mutex_lock(&posix::g_lock);
    Event* e = posix::AsEvent(handle);
    if (e) {
        e->signalled = true;
        for (posix::EventLink* l = e->head; l; l = l->next) {
            if (count < kDeferred) {
                __atomic_add_fetch(&l->waiter->pendingWakes, 1, __ATOMIC_RELAXED);
                later[count++] = l->waiter;
            } else {
                posix::Wake(l->waiter);
            }
        }
    }
    pthread_mutex_unlock(&posix::g_lock);
    for (uint32_t i = 0; i < count; ++i) {
        posix::Wake(later[i]);
        __atomic_sub_fetch(&later[i]->pendingWakes, 1, __ATOMIC_RELEASE);
    }
    return e != nullptr;
}

bool EventReset(OsHandle handle) {
    pthread_mutex_lock(&posix::g_lock);
    Event* e = posix::AsEvent(handle);
    if (e) e->signalled = false;
    pthread_mutex_unlock(&posix::g_lock);
    return e != nullptr;
}

void EventClose(OsHandle handle) {
    pthread_mutex_lock(&posix::g_lock);
    Event* e = posix::AsEvent(handle);
    if (e) {
        e->magic = posix::kEventDead;
        if (e->head) e->closed = true;
        else delete e;
    }
    pthread_mutex_unlock(&posix::g_lock);
}

uint32_t EventWait(OsHandle event, uint32_t timeoutMs) { return EventWaitAny(&event, 1, timeoutMs); }

uint32_t EventWaitAny(const OsHandle* handles, uint32_t count, uint32_t timeoutMs) {
    if (!handles || count == 0 || count > posix::kMaxWaitObjects) return kWaitFailed;
    uint32_t realMs = OsRealMs(timeoutMs);
    int64_t deadline = realMs == kOsInfinite ? 0 : posix::DeadlineNs(realMs);

    posix::WaitGuard guard;
    Event* events[posix::kMaxWaitObjects];
    for (uint32_t i = 0; i < count; ++i) {
        events[i] = posix::AsEvent(handles[i]);
        if (!events[i]) return kWaitFailed;
    }
    bool timedOut = false;
    for (;;) {
        for (uint32_t i = 0; i < count; ++i) {
            if (events[i]->signalled) {
                if (!events[i]->manualReset) events[i]->signalled = false;
                return kWaitObject0 + i;
            }
        }
        if (timedOut || realMs == 0) return kWaitTimeout;
        if (!guard.Linked()) guard.LinkAll(events, count);
        if (realMs == kOsInfinite) {
            pthread_cond_wait(&guard.Waiter().cond, &posix::g_lock);
        } else {
            struct timespec until = posix::NsToTimespec(deadline);
            int rc = pthread_cond_timedwait(&guard.Waiter().cond, &posix::g_lock, &until);
            timedOut = rc == ETIMEDOUT;
        }
    }
}

}  // namespace vos
