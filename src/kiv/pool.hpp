// The process-wide worker pool: runs contiguous chunks of an index range in parallel and waits for all.
#pragma once

#include <cstddef>
#include <functional>

namespace kiv::pool {

// Number of threads the pool runs with (the calling thread counts as one of them).
// RAYON_NUM_THREADS when a positive integer (0 means the default), else RAYON_RS_NUM_CPUS when a
// positive integer, else the number of logical processors available to the process.
std::size_t thread_count();

using ChunkFn = std::function<void(std::size_t begin, std::size_t end)>;

// Splits [0, n) into contiguous chunks of at least min_chunk indices and runs fn on each, on the pool
// and on the calling thread, returning once every chunk has ended. A failure thrown by any chunk is
// rethrown here after all chunks are done (the one from the lowest chunk when several fail). Nested
// calls from inside a chunk run inline.
void parallel_for(std::size_t n, std::size_t min_chunk, const ChunkFn& fn);

}  // namespace kiv::pool
