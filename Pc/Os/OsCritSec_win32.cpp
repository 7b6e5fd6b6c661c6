#include <windows.h>

#include <new>

#include "Pc/Os/OsCritSec.h"

namespace vos {
namespace {
static_assert(sizeof(CRITICAL_SECTION) <= 64, "OsCriticalSection storage too small");

CRITICAL_SECTION* Section(unsigned char* storage) {
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}
}  // namespace

OsCriticalSection::OsCriticalSection() { InitializeCriticalSection(new (m_storage) CRITICAL_SECTION); }

OsCriticalSection::~OsCriticalSection() { DeleteCriticalSection(Section(m_storage)); }

void OsCriticalSection::Enter() { EnterCriticalSection(Section(m_storage)); }

void OsCriticalSection::Leave() { LeaveCriticalSection(Section(m_storage)); }

bool OsCriticalSection::TryEnter() { return TryEnterCriticalSection(Section(m_storage)) != FALSE; }

}  // namespace vos
