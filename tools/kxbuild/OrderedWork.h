// RunOrderedWork: independent pieces of work done on several threads, their output consumed in
// order on the calling thread.
//
// Used by the cabinet writer to compress a cabinet's folders in parallel while the output stays
// the same bytes whatever the thread count: piece i is produced by whichever worker takes it, but
// its chunks reach the consumer only after every chunk of pieces 0 to i-1, and in the order the
// worker emitted them.
//
// Memory stays bounded whatever the pieces' sizes: a worker takes piece i only while i is less
// than the piece being consumed plus `window`, and a piece's emit waits while the chunks it has
// waiting reach `heldLimit` bytes (the piece being consumed is drained all the while, so the
// first unfinished piece always moves on). At most window * (heldLimit + one chunk) bytes wait.
//
// A KxError (or any exception) thrown by a producer or by the consumer stops the other workers at
// their next emit; RunOrderedWork rethrows the first one once every worker has ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

using TWorkChunk = std::vector<uint8_t>;
// Hands a chunk of a piece's output over; may wait (see above). Throws when the work is stopped.
using TWorkEmit = std::function<void(TWorkChunk&&)>;

struct TOrderedWorkLimits {
  unsigned Jobs = 1;     // worker threads, at least 1
  size_t Window = 2;     // pieces taken but not yet consumed, at least 1
  size_t HeldLimit = 1;  // bytes one piece may have waiting before its emit waits
};

// produce(index, emit) runs on a worker thread for each index below count; consume(index, chunk)
// runs on the calling thread, for the chunks in order; consumeDone(index) after the last chunk of
// a piece.
void RunOrderedWork(size_t count, const TOrderedWorkLimits& limits,
                    const std::function<void(size_t, const TWorkEmit&)>& produce,
                    const std::function<void(size_t, TWorkChunk&)>& consume,
                    const std::function<void(size_t)>& consumeDone);
