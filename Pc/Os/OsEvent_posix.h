// Internals of the POSIX events, shared with the serial port.
//
// All events share one lock. A thread that waits registers one link per event
// it waits on; EventSet wakes every registered waiter, through its condition
// variable, or, for a watch, by writing to a file descriptor (an eventfd), so
// that a thread blocked in poll() on a device wakes at once when the event is
// set. Watching never changes the event's state: an auto-reset event stays
// signalled for the next wait.
#pragma once

#include <pthread.h>

#include "Pc/Os/OsTypes.h"

namespace vos {
namespace posix {

struct Event;

struct EventWaiter {
    pthread_cond_t cond;
    int wakeFd = -1;  // >= 0: a watch, woken through this descriptor
    // Wake-ups that EventSet has promised under the lock and delivers after
    // releasing it; the waiter keeps its condition variable (or descriptor)
    // until they are done.
    int pendingWakes = 0;
};

struct EventLink {
    EventWaiter* waiter = nullptr;
    Event* event = nullptr;
    EventLink* prev = nullptr;
    EventLink* next = nullptr;
};

class EventWatch {
public:
    EventWatch() = default;
    ~EventWatch() { Stop(); }
    EventWatch(const EventWatch&) = delete;
    EventWatch& operator=(const EventWatch&) = delete;

    // Starts watching; when the event is signalled already, wakeFd is written
    // at once. False for a bad handle.
    bool Start(OsHandle event, int wakeFd);
    void Stop();

private:
    EventWaiter m_waiter;
    EventLink m_link;
    bool m_active = false;
};

}  // namespace posix
}  // namespace vos
