// Picture-sized buffers made after the heap is warmed find their pages mapped, also when made
// again after being freed.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>

#include "app/qt/warm_heap.h"

TEST(WarmHeap, BuffersMadeAfterwardsAndMadeAgainFindTheirPagesMapped) {
#if defined(__SANITIZE_ADDRESS__) || !defined(__GLIBC__)
    GTEST_SKIP() << "this allocator takes no advice";  // a sanitizer's, for one
#endif
    void* probe = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    const bool kernelCan = madvise(probe, 4096, 23 /* MADV_POPULATE_WRITE */) == 0;
    munmap(probe, 4096);
    std::jthread warming = app::WarmHeap(size_t(6) << 20);
    ASSERT_TRUE(warming.joinable());
    warming.join();
    if (!kernelCan) GTEST_SKIP() << "this kernel cannot map pages ahead";
    for (size_t bytes : {640 * 400 * 4, 640 * 400 * 4, 3 * 640 * 400 * 4}) {
        rusage before{}, after{};
        getrusage(RUSAGE_THREAD, &before);
        auto* buffer = static_cast<char*>(std::malloc(bytes));
        std::memset(buffer, 1, bytes);
        getrusage(RUSAGE_THREAD, &after);
        EXPECT_EQ(buffer[bytes - 1], 1);
        std::free(buffer);
        // A megabyte is 256 pages; a few faults are the C library's own bookkeeping.
        EXPECT_LT(after.ru_minflt - before.ru_minflt, 16) << bytes;
    }
}
