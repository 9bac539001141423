#include "base/mutex.h"

namespace lumaro {

void Mutex::lock() noexcept { m_.lock(); }
void Mutex::unlock() noexcept { m_.unlock(); }

}  // namespace lumaro
