// A Win32 critical section and the guard that holds it for a scope.
#pragma once

#include <windows.h>

namespace nimbo {

class CriticalSection {
  public:
    CriticalSection() { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void enter() { EnterCriticalSection(&section_); }
    void leave() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
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
