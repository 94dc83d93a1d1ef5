#include "OrderedWork.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace {

// Thrown by an emit once the work is stopped; it ends its worker without being a failure itself.
struct TStopped {};

class TOrderedWork {
 public:
  TOrderedWork(size_t count, const TOrderedWorkLimits& limits,
               const std::function<void(size_t, const TWorkEmit&)>& produce)
      : count_(count),
        jobs_(std::max(1u, limits.Jobs)),
        window_(std::max<size_t>(1, limits.Window)),
        heldLimit_(std::max<size_t>(1, limits.HeldLimit)),
        produce_(produce) {}

  void Run(const std::function<void(size_t, TWorkChunk&)>& consume,
           const std::function<void(size_t)>& consumeDone) {
    std::vector<std::thread> workers;
    try {
      const size_t threads = std::min<size_t>(jobs_, count_);
      for (size_t i = 0; i < threads; ++i) workers.emplace_back([this] { Work(); });
      Consume(consume, consumeDone);
    } catch (...) {
      Fail(std::current_exception());
    }
    for (std::thread& worker : workers) worker.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  struct Piece {
    std::deque<TWorkChunk> chunks;
    size_t held = 0;
    bool done = false;
  };

  void Work() {
    for (;;) {
      size_t index;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock,
                      [&] { return stopped_ || next_ >= count_ || next_ < consuming_ + window_; });
        if (stopped_ || next_ >= count_) return;
        index = next_++;
        pieces_[index];
      }
      try {
        produce_(index, [this, index](TWorkChunk&& chunk) { Emit(index, std::move(chunk)); });
        std::lock_guard<std::mutex> lock(mutex_);
        pieces_[index].done = true;
        changed_.notify_all();
      } catch (const TStopped&) {
        return;
      } catch (...) {
        Fail(std::current_exception());
        return;
      }
    }
  }

  void Emit(size_t index, TWorkChunk&& chunk) {
    std::unique_lock<std::mutex> lock(mutex_);
    Piece& piece = pieces_[index];
    changed_.wait(lock, [&] { return stopped_ || piece.held < heldLimit_; });
    if (stopped_) throw TStopped();
    piece.held += chunk.size();
    piece.chunks.push_back(std::move(chunk));
    changed_.notify_all();
  }

  void Consume(const std::function<void(size_t, TWorkChunk&)>& consume,
               const std::function<void(size_t)>& consumeDone) {
    for (;;) {
      TWorkChunk chunk;
      size_t index;
      bool finished = false;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (consuming_ >= count_) return;
        index = consuming_;
        changed_.wait(lock, [&] {
          if (stopped_) return true;
          const auto found = pieces_.find(index);
          return found != pieces_.end() && (!found->second.chunks.empty() || found->second.done);
        });
        if (stopped_) return;
        Piece& piece = pieces_[index];
        if (!piece.chunks.empty()) {
          chunk = std::move(piece.chunks.front());
          piece.chunks.pop_front();
          piece.held -= chunk.size();
        } else {
          pieces_.erase(index);
          ++consuming_;
          finished = true;
        }
        changed_.notify_all();
      }
      if (finished) {
        consumeDone(index);
      } else {
        consume(index, chunk);
      }
    }
  }

  void Fail(std::exception_ptr error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_) failure_ = error;
    stopped_ = true;
    changed_.notify_all();
  }

  const size_t count_;
  const unsigned jobs_;
  const size_t window_;
  const size_t heldLimit_;
  const std::function<void(size_t, const TWorkEmit&)>& produce_;

  std::mutex mutex_;
  std::condition_variable changed_;
  size_t next_ = 0;                 // the next piece a worker takes
  size_t consuming_ = 0;            // the piece whose chunks are consumed now
  std::map<size_t, Piece> pieces_;  // taken and not yet consumed
  bool stopped_ = false;
  std::exception_ptr failure_;
};

}  // namespace

void RunOrderedWork(size_t count, const TOrderedWorkLimits& limits,
                    const std::function<void(size_t, const TWorkEmit&)>& produce,
                    const std::function<void(size_t, TWorkChunk&)>& consume,
                    const std::function<void(size_t)>& consumeDone) {
  TOrderedWork(count, limits, produce).Run(consume, consumeDone);
}
