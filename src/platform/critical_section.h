// A mutual-exclusion lock and the scoped guard that takes it, so no path can
// leave it held.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#endif

class CCriticalSection {
  public:
#ifdef _WIN32
    CCriticalSection() {
        InitializeCriticalSection(&m_section);
    }
    ~CCriticalSection() {
        DeleteCriticalSection(&m_section);
    }
    void Lock() {
        EnterCriticalSection(&m_section);
    }
    void Unlock() {
        LeaveCriticalSection(&m_section);
    }
#else
    CCriticalSection() = default;
    void Lock() {
        m_section.lock();
    }
    void Unlock() {
        m_section.unlock();
    }
#endif
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

  private:
#ifdef _WIN32
    CRITICAL_SECTION m_section{};
#else
    std::mutex m_section;
#endif
};

class CScopedLock {
  public:
    explicit CScopedLock(CCriticalSection& section) : m_section(section) { m_section.Lock(); }
    ~CScopedLock() { m_section.Unlock(); }
    CScopedLock(const CScopedLock&) = delete;
    CScopedLock& operator=(const CScopedLock&) = delete;

  private:
    CCriticalSection& m_section;
};
