// A slim reader/writer lock and its scoped guards.
#pragma once

#include <windows.h>

class SlimLock {
public:
    SlimLock() { InitializeSRWLock(&lock); }
    SlimLock(const SlimLock&) = delete;
    SlimLock& operator=(const SlimLock&) = delete;

    void lockExclusive() { AcquireSRWLockExclusive(&lock); }
    void unlockExclusive() { ReleaseSRWLockExclusive(&lock); }
    void lockShared() { AcquireSRWLockShared(&lock); }
    void unlockShared() { ReleaseSRWLockShared(&lock); }
    // For SleepConditionVariableSRW, which releases and retakes the lock.
    PSRWLOCK native() { return &lock; }

private:
    SRWLOCK lock;
};

class ExclusiveGuard {
public:
    explicit ExclusiveGuard(SlimLock& lock) : lock(lock) { lock.lockExclusive(); }
    ~ExclusiveGuard() { lock.unlockExclusive(); }
    ExclusiveGuard(const ExclusiveGuard&) = delete;
    ExclusiveGuard& operator=(const ExclusiveGuard&) = delete;

private:
    SlimLock& lock;
};

class SharedGuard {
public:
    explicit SharedGuard(SlimLock& lock) : lock(lock) { lock.lockShared(); }
    ~SharedGuard() { lock.unlockShared(); }
    SharedGuard(const SharedGuard&) = delete;
    SharedGuard& operator=(const SharedGuard&) = delete;

private:
    SlimLock& lock;
};
