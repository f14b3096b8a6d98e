#pragma once

namespace Tavrix::Common {

// Hands heap memory that left clients freed back to the system. glibc keeps
// freed memory for reuse; after a crowd of clients leaves, the holes between
// the few allocations that stay are not given back by themselves, and the
// resident size would ratchet up with every crowd. Calls within the next
// second are folded into one; call it from the main thread.
void releaseFreedMemorySoon();

// How many times freed memory was handed back (for tests).
int freedMemoryReleases();

} // namespace Tavrix::Common
