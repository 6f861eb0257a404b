// Counts the heap bytes of this process (everything that goes through operator new), so the
// benchmark can report what an operation holds at its busiest moment.
#ifndef VEXLOR_BENCH_HEAP_COUNTER_H_
#define VEXLOR_BENCH_HEAP_COUNTER_H_

#include <cstddef>

namespace bench {

// Starts a new measuring window: its peak is counted from the bytes live right now.
void BeginPeakWindow();

// The most heap bytes held at any moment since BeginPeakWindow, beyond those live when the
// window began.
std::size_t PeakInWindow();

}  // namespace bench

#endif  // VEXLOR_BENCH_HEAP_COUNTER_H_
