// Test seams of the toolkit allocator (VOR_alloc and VOR_MALLOC): a count of
// allocations and injected failures. Not exported.
#pragma once

#include <cstdint>

namespace kel::mem {

// Allocations made through VOR_alloc and VOR_MALLOC since the process started.
uint64_t allocation_count();

// Makes the allocation after the next `successes` ones fail (once); a
// negative value switches injection off.
void fail_after(int64_t successes);

// Observers of every block VOR_alloc or VOR_MALLOC hands out (with its size)
// and of every block VOR_free or VOR_FREE is about to release, so a test can
// check that objects are wiped before release. Null: none.
using AllocObserver = void (*)(const void *block, uint32_t size);
using ReleaseObserver = void (*)(const void *block);
void observe(AllocObserver onAlloc, ReleaseObserver onRelease);

}  // namespace kel::mem
