#include "common/freedmemory.h"

#include <QTimer>

#include <malloc.h>

namespace Tavrix::Common {

namespace {

bool g_pending = false;
int g_releases = 0;

} // namespace

void releaseFreedMemorySoon()
{
    if (g_pending)
        return;
    g_pending = true;
    // Later, so that a crowd leaving costs one pass over the heap.
    QTimer::singleShot(1000, [] {
        g_pending = false;
        ++g_releases;
        malloc_trim(0);
    });
}

int freedMemoryReleases()
{
    return g_releases;
}

} // namespace Tavrix::Common
