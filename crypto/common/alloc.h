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

}  // namespace kel::mem
