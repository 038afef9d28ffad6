#include "module_counts.h"

#include <atomic>

namespace zelto::com {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

} // namespace

void moduleObjectCreated() {
    ++g_objects;
}
void moduleObjectDestroyed() {
    --g_objects;
}
long moduleLock() {
    return ++g_locks;
}
long moduleUnlock() {
    return --g_locks;
}
bool moduleCanUnload() {
    return g_objects == 0 && g_locks == 0;
}

} // namespace zelto::com
