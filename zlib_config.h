// zlib as the runtime builds it: inflate only, allocations from the private heap.
#pragma once
#include <zlib.h>
