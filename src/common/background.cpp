#include "background.h"

#include <openssl/crypto.h>

namespace Background {

void releaseThreadState() {
    OPENSSL_thread_stop();
}

} // namespace Background
