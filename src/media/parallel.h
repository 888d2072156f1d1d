// parallel: the small worker pool the media code spreads row bands over.
//
// One pool per process, sized to the machine (hardware threads minus one
// workers; the calling thread always works too), started on first use and
// joined at exit. Work is split into chunks that must not depend on each
// other; which thread runs which chunk is unspecified, so results must not
// depend on it either.
#pragma once

#include <type_traits>

namespace media {

// --- Running work ----------------------------------------------------------
// Threads a parallelFor may use (the workers plus the caller), at least 1.
int parallelism();

// Calls body(begin, end) for consecutive chunks of at most `grain` items that
// together cover [0, count), spread over the pool and the calling thread;
// blocks until every chunk has returned. Thread-safe, may be nested and called
// from several threads at once: the caller works through its own chunks, so it
// never waits for a pool busy with other jobs. The body must not throw.
template <class Body>
void parallelFor(int count, int grain, Body&& body);

// While alive, parallelFor calls made on this thread run all their chunks on
// this thread (a serial reference for tests and comparisons).
class SerialScope {
 public:
  SerialScope();
  ~SerialScope();
  SerialScope(const SerialScope&) = delete;
  SerialScope& operator=(const SerialScope&) = delete;
};

// --- Sizing helpers --------------------------------------------------------
// Rows per band for a row-wise pass over `height` rows of `rowCost` units of
// work each: big enough that a band outweighs handing it over, small enough
// that every thread gets several.
int bandRows(int height, long long rowCost);

namespace detail {
using ChunkFn = void (*)(void* ctx, int begin, int end);
void runParallel(int count, int grain, ChunkFn fn, void* ctx);
}  // namespace detail

template <class Body>
void parallelFor(int count, int grain, Body&& body) {
  using B = std::remove_reference_t<Body>;
  detail::runParallel(
      count, grain, [](void* ctx, int begin, int end) { (*static_cast<B*>(ctx))(begin, end); },
      const_cast<void*>(static_cast<const void*>(&body)));
}

}  // namespace media
