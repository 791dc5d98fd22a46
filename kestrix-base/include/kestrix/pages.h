// Giving back the memory of a large buffer that has been read.
#pragma once

#include <cstddef>

namespace kestrix {

// Gives the whole pages within a buffer's range back to the system, for a
// buffer whose owner has read that part and will not look at it again: they
// read as zeros afterwards. The bytes of partly covered pages stay.
void release_pages(char* data, std::size_t bytes) noexcept;

}  // namespace kestrix
