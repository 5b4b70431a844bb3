// A critical section and the guard that holds it for a scope: Win32's in the DLL, a
// recursive POSIX mutex (the same re-entry rule) in the native tests.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace nimbo {

class CriticalSection {
  public:
#ifdef _WIN32
    CriticalSection() {
        InitializeCriticalSection(&section_);
    }
    ~CriticalSection() {
        DeleteCriticalSection(&section_);
    }
    void enter() {
        EnterCriticalSection(&section_);
    }
    void leave() {
        LeaveCriticalSection(&section_);
    }
#else
    CriticalSection() {
        pthread_mutexattr_t kind;
        pthread_mutexattr_init(&kind);
        pthread_mutexattr_settype(&kind, PTHREAD_MUTEX_RECURSIVE);
        pthread_mutex_init(&section_, &kind);
        pthread_mutexattr_destroy(&kind);
    }
    ~CriticalSection() {
        pthread_mutex_destroy(&section_);
    }
    void enter() {
        pthread_mutex_lock(&section_);
    }
    void leave() {
        pthread_mutex_unlock(&section_);
    }
#endif
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

  private:
#ifdef _WIN32
    CRITICAL_SECTION section_;
#else
    pthread_mutex_t section_;
#endif
};

class Locked {
  public:
    explicit Locked(CriticalSection& section) : section_(section) { section_.enter(); }
    ~Locked() { section_.leave(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    CriticalSection& section_;
};

}  // namespace nimbo
