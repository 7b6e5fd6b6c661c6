// Critical sections: recursive locks private to the process.
#pragma once

namespace vos {

class OsCriticalSection {
public:
    OsCriticalSection();
    ~OsCriticalSection();
    OsCriticalSection(const OsCriticalSection&) = delete;
    OsCriticalSection& operator=(const OsCriticalSection&) = delete;

    void Enter();
    void Leave();
    bool TryEnter();

private:
    alignas(16) unsigned char m_storage[64];
};

// Scoped Enter/Leave.
class OsLock {
public:
    explicit OsLock(OsCriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
    ~OsLock() { m_cs.Leave(); }
    OsLock(const OsLock&) = delete;
    OsLock& operator=(const OsLock&) = delete;

private:
    OsCriticalSection& m_cs;
};

}  // namespace vos
