#include <windows.h>

#include "base/mutex.h"

static_assert(sizeof(SRWLOCK) == sizeof(void*), "SRWLOCK must fit the storage");

namespace lumaro {

void Mutex::lock() noexcept { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&srw_)); }
void Mutex::unlock() noexcept { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&srw_)); }

}  // namespace lumaro
