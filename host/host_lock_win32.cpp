#include "host/host_lock.h"

#include <windows.h>

namespace nebulite::host {

static_assert(sizeof(SRWLOCK) == sizeof(void*));

void HostLock::lock() { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)); }
void HostLock::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)); }

}  // namespace nebulite::host
