// Preloaded into a test's child process. Every fourth time one of Mesa's llvmpipe rasteriser threads broadcasts
// a condition variable (as it does when it signals a finished scene's fence, still holding the fence's mutex),
// it first pauses for half a millisecond. A loaded machine opens the same window by preempting the thread
// there; the pause makes it wide enough to hit within seconds. Other threads, and other renderers' threads,
// go through untouched.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <cstring>

namespace {

using Broadcast = int (*)(pthread_cond_t*);

Broadcast RealBroadcast() {
    static const Broadcast real = reinterpret_cast<Broadcast>(dlsym(RTLD_NEXT, "pthread_cond_broadcast"));
    return real;
}

bool OnRasteriserThread() {
    char name[16] = {};
    return pthread_getname_np(pthread_self(), name, sizeof name) == 0 && std::strncmp(name, "llvmpipe", 8) == 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int pthread_cond_broadcast(pthread_cond_t* cond) {
    thread_local unsigned calls = 0;
    if (OnRasteriserThread() && ++calls % 4 == 0) usleep(500);
    return RealBroadcast()(cond);
}
