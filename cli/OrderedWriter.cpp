#include "OrderedWriter.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace sorvanta {

namespace {

struct Slot {
  TextBuffer text;
  std::size_t chunk = SIZE_MAX;  // the chunk whose text is ready here
};

}  // namespace

bool WriteChunksInOrder(const std::vector<std::size_t>& ends, unsigned threads, const ChunkFormatter& format,
                        Output& out) {
  const std::size_t chunks = ends.size();
  auto beginOf = [&](std::size_t c) { return c == 0 ? 0 : ends[c - 1]; };
  if (threads <= 1 || chunks <= 1) {
    for (std::size_t c = 0; c < chunks; ++c) {
      format(beginOf(c), ends[c], &out.buffer());
      out.EndRecord();
    }
    return out.Flush();
  }

  std::vector<Slot> slots(2 * static_cast<std::size_t>(threads));
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;     // the next chunk to format
  std::size_t written = 0;  // chunks written so far
  bool stop = false;
  std::exception_ptr error;

  auto work = [&] {
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex);
      const std::size_t c = next++;
      if (c >= chunks) return;
      // Its slot is free once the chunk that used it last was written.
      changed.wait(lock, [&] { return stop || c < written + slots.size(); });
      if (stop) return;
      Slot& slot = slots[c % slots.size()];
      lock.unlock();
      try {
        slot.text.clear();
        format(beginOf(c), ends[c], &slot.text);
      } catch (...) {
        lock.lock();
        if (!error) error = std::current_exception();
        stop = true;
        changed.notify_all();
        return;
      }
      lock.lock();
      slot.chunk = c;
      changed.notify_all();
    }
  };

  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  if (workers.empty()) {
    // No thread could start: this one formats and writes alone.
    return WriteChunksInOrder(ends, 1, format, out);
  }

  bool ok = out.Flush();
  for (std::size_t c = 0; c < chunks && ok; ++c) {
    Slot& slot = slots[c % slots.size()];
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return stop || slot.chunk == c; });
      if (stop) break;
    }
    ok = out.Write(slot.text.view());
    std::lock_guard<std::mutex> lock(mutex);
    written = c + 1;
    changed.notify_all();
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    stop = true;
    changed.notify_all();
  }
  for (std::thread& worker : workers) worker.join();
  if (error) std::rethrow_exception(error);
  return ok && out.Flush();
}

}  // namespace sorvanta
