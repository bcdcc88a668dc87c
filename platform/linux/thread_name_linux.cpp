#include "platform/thread_name.h"

#include <pthread.h>

#include <string>

namespace orv::platform {

void SetCurrentThreadName(std::string_view name) {
    const std::string cut(name.substr(0, kMaxThreadNameLength));
    pthread_setname_np(pthread_self(), cut.c_str());
}

}  // namespace orv::platform
