// A stand-in for a game's frame loop, for the benchmark that runs
// crashreport beside a game (scripts/benchmark.sh beside-game): one frame
// thread per core, each due to render a frame every 16.7 ms (60 frames a
// second), each frame a fixed amount of computation that takes about 9 ms
// on an idle core. A frame misses its deadline when its computation ends
// more than 16.7 ms after the frame was due; a frame whose whole period has
// passed before its thread could begin it is dropped.
//
//   stand_in_game [seconds, default 6] [computation ms, default 9]
//
// Prints "started" once the frames begin, then, when they end, one line of
// JSON: frames due, rendered, missed and dropped, and the 99th percentile
// and the longest of the rendered frames' times (from due to done) in ms.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr Clock::duration kFramePeriod =
    std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / 60));

// One unit of a frame's computation: integer mixing that the compiler cannot
// drop, on data that stays in the core's registers, as a frame's simulation
// would.
std::atomic<uint64_t> computed;
void Compute(uint64_t units) {
  uint64_t x = 0x9e3779b97f4a7c15u;
  for (uint64_t unit = 0; unit < units; ++unit) {
    for (int i = 0; i < 1000; ++i)
      x = (x ^ (x >> 31)) * 0xbf58476d1ce4e5b9u + unit;
  }
  computed.fetch_add(x, std::memory_order_relaxed);
}

// The units that take `work` on this machine's idle core: the fastest of
// several tries, so that a busy moment does not count.
uint64_t Calibrate(Clock::duration work) {
  constexpr uint64_t kTryUnits = 200;
  Clock::duration fastest = Clock::duration::max();
  for (int attempt = 0; attempt < 20; ++attempt) {
    const Clock::time_point start = Clock::now();
    Compute(kTryUnits);
    fastest = std::min(fastest, Clock::now() - start);
  }
  return std::max<uint64_t>(
      1, static_cast<uint64_t>(kTryUnits * Milliseconds(work) /
                               Milliseconds(fastest)));
}

struct Frames {
  std::vector<double> times_ms;  // of the rendered frames
  int missed = 0;
  int dropped = 0;
};

Frames RunFrames(Clock::time_point start, int count, uint64_t units) {
  Frames frames;
  for (int frame = 0; frame < count; ++frame) {
    const Clock::time_point due = start + frame * kFramePeriod;
    if (Clock::now() > due + kFramePeriod) {
      ++frames.dropped;
      continue;
    }
    std::this_thread::sleep_until(due);
    Compute(units);
    const Clock::duration took = Clock::now() - due;
    frames.times_ms.push_back(Milliseconds(took).count());
    if (took > kFramePeriod)
      ++frames.missed;
  }
  return frames;
}

}  // namespace

int main(int argc, char* argv[]) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 6;
  const double work_ms = argc > 2 ? std::atof(argv[2]) : 9;
  const int threads =
      static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int count = static_cast<int>(seconds * 60);
  const uint64_t units = Calibrate(
      std::chrono::duration_cast<Clock::duration>(Milliseconds(work_ms)));

  // Every thread's frames are due at the same moments.
  const Clock::time_point start = Clock::now() + std::chrono::milliseconds(50);
  std::mutex mutex;
  Frames all;
  std::vector<std::thread> frame_threads;
  for (int i = 0; i < threads; ++i) {
    frame_threads.emplace_back([&] {
      const Frames frames = RunFrames(start, count, units);
      std::lock_guard lock(mutex);
      all.times_ms.insert(all.times_ms.end(), frames.times_ms.begin(),
                          frames.times_ms.end());
      all.missed += frames.missed;
      all.dropped += frames.dropped;
    });
  }
  std::this_thread::sleep_until(start);
  std::printf("started\n");
  std::fflush(stdout);
  for (std::thread& thread : frame_threads)
    thread.join();

  std::sort(all.times_ms.begin(), all.times_ms.end());
  const auto percentile = [&](double p) {
    if (all.times_ms.empty())
      return 0.0;
    return all.times_ms[static_cast<size_t>(p * (all.times_ms.size() - 1))];
  };
  std::printf(
      "{\"due\":%d,\"rendered\":%zu,\"missed\":%d,\"dropped\":%d,"
      "\"p99_ms\":%.2f,\"max_ms\":%.2f,\"units\":%llu}\n",
      threads * count, all.times_ms.size(), all.missed, all.dropped,
      percentile(0.99), percentile(1.0),
      static_cast<unsigned long long>(units));
  return 0;
}
