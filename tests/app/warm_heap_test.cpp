// The heap warmed before the window's first frame: buffers made afterwards find their pages
// mapped, and a large buffer freed and made again is not mapped anew.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>

#include "app/qt/warm_heap.h"

namespace {

long FaultsSoFar() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

// The faults of writing a fresh buffer of this size, made and freed.
long FaultsOfABuffer(size_t bytes) {
    const long before = FaultsSoFar();
    auto* buffer = static_cast<char*>(std::malloc(bytes));
    std::memset(buffer, 1, bytes);
    const long faults = FaultsSoFar() - before;
    EXPECT_EQ(buffer[bytes - 1], 1);
    std::free(buffer);
    return faults;
}

TEST(WarmHeap, BuffersMadeAfterwardsAndMadeAgainFindTheirPagesMapped) {
#if !defined(__GLIBC__) || !defined(MADV_POPULATE_WRITE)
    GTEST_SKIP() << "the heap is not warmed on this system";
#else
    void* probe = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    const bool kernelCan = madvise(probe, 4096, MADV_POPULATE_WRITE) == 0;
    munmap(probe, 4096);
    if (!kernelCan) GTEST_SKIP() << "this kernel cannot map pages in ahead";
    std::jthread warming = app::WarmHeap(size_t(6) << 20);
    // A sanitizer's allocator, for one, takes no such advice.
    if (!warming.joinable()) GTEST_SKIP() << "the C library's allocator cannot be told";
    warming.join();
    const size_t picture = size_t(640) * 400 * 4;
    // A megabyte is 256 pages; a few faults are the C library's own bookkeeping.
    EXPECT_LT(FaultsOfABuffer(picture), 16);
    EXPECT_LT(FaultsOfABuffer(picture), 16);
    EXPECT_LT(FaultsOfABuffer(3 * picture), 16);
#endif
}

}  // namespace
