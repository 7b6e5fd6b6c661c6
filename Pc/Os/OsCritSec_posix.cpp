#include <pthread.h>

#include <new>

#include "Pc/Os/OsCritSec.h"

namespace vos {
namespace {
static_assert(sizeof(pthread_mutex_t) <= 64, "OsCriticalSection storage too small");

pthread_mutex_t* Mutex(unsigned char* storage) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}
}  // namespace

OsCriticalSection::OsCriticalSection() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_t* m = new (m_storage) pthread_mutex_t;
    pthread_mutex_init(m, &attr);
    pthread_mutexattr_destroy(&attr);
}

OsCriticalSection::~OsCriticalSection() { pthread_mutex_destroy(Mutex(m_storage)); }

void OsCriticalSection::Enter() { pthread_mutex_lock(Mutex(m_storage)); }

void OsCriticalSection::Leave() { pthread_mutex_unlock(Mutex(m_storage)); }

bool OsCriticalSection::TryEnter() { return pthread_mutex_trylock(Mutex(m_storage)) == 0; }

}  // namespace vos
