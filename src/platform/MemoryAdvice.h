// Advice to the kernel for large, freshly allocated buffers that are about to be filled whole:
// backing them with huge pages cuts the page faults that otherwise dominate copying file contents.
#pragma once

#include <cstddef>

namespace ab {

// Advises huge pages for the whole pages inside [data, data + size) when size is large; does
// nothing for small buffers or where the system does not support it. Never fails.
void AdviseLargeBuffer(void* data, std::size_t size) noexcept;

}  // namespace ab
