// Test programs log like the host: nothing is written until a test sets a path.
#include "log/log.h"

namespace lumaro {
extern const LogRole kProcessLogRole = LogRole::host;
}
