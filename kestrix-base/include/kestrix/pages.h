// Page-level care for the few large buffers of a run.
#pragma once

#include <cstddef>

namespace kestrix {

// Asks for transparent huge pages over the 2 MiB-aligned part of a buffer
// that is about to be filled: a 30 MB snapshot then costs a dozen page
// faults rather than thousands. Only a hint, and only for buffers of
// several megabytes, where rounding to whole huge pages costs little.
void prefer_huge_pages(void* data, std::size_t bytes) noexcept;

// Gives the whole pages within a buffer's range back to the system, for a
// buffer whose owner has read that part and will not look at it again: they
// read as zeros afterwards. The bytes of partly covered pages stay.
void release_pages(char* data, std::size_t bytes) noexcept;

}  // namespace kestrix
