#pragma once
// The window's first frame, on a machine where a page fault is dear: most of the memory the
// main thread first touches before that frame (Qt's images and buffers, the picture, the data
// files) comes from the heap, a page fault a page. The heap is grown once at start, kept when
// freed, and its pages are mapped by a second thread while the main thread loads Qt.
#include <cstddef>
#include <thread>

namespace app {

// Grows the heap by `bytes` and returns the thread that maps those pages in (it changes no
// memory, so the main thread may allocate from them meanwhile). Large blocks then come from
// the heap and freed memory stays in it, so that a large buffer made and freed every frame
// (as Qt's copy for the display server) is not mapped in again each time. A no-op thread where
// the C library or the kernel cannot do this.
std::jthread WarmHeap(size_t bytes);

}  // namespace app
