#include "base/thread/buffer_pipe.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <span>
#include <string>
#include <thread>

#include "gtest/gtest.h"

namespace base::thread {
namespace {

// Pieces of every size from 1 to the buffer's, many more than the ring
// holds, arrive whole and in order.
TEST(BufferPipeTest, CarriesAStreamInOrder) {
  constexpr size_t kBufferSize = 7;
  BufferPipe pipe(kBufferSize);
  std::string sent;
  std::string received;
  std::thread reader([&pipe, &received] {
    for (std::span<const char> piece = pipe.Readable(); !piece.empty();
         piece = pipe.Readable()) {
      received.append(piece.data(), piece.size());
      pipe.Release();
    }
  });
  for (int i = 0; i < 1000; ++i) {
    const std::span<char> buffer = pipe.Writable();
    ASSERT_EQ(buffer.size(), kBufferSize);
    const size_t size = 1 + i % kBufferSize;
    for (size_t j = 0; j < size; ++j)
      buffer[j] = static_cast<char>('a' + (i + j) % 26);
    sent.append(buffer.data(), size);
    pipe.Commit(size);
  }
  pipe.Close();
  reader.join();
  EXPECT_EQ(received, sent);
  EXPECT_FALSE(pipe.canceled());
}

// A writer that waits for a free buffer and a reader that waits for a
// piece both return empty once the other side cancels.
TEST(BufferPipeTest, CancelEndsEitherSidesWait) {
  {
    BufferPipe pipe(1);
    for (size_t i = 0; i < BufferPipe::kBuffers; ++i) {
      pipe.Writable()[0] = 'x';
      pipe.Commit(1);
    }
    std::thread reader([&pipe] {
      ASSERT_FALSE(pipe.Readable().empty());
      pipe.Cancel();
    });
    // The ring is full and the reader frees nothing: only its Cancel ends
    // this wait.
    EXPECT_TRUE(pipe.Writable().empty());
    reader.join();
    EXPECT_TRUE(pipe.canceled());
    EXPECT_TRUE(pipe.Readable().empty());
  }
  {
    BufferPipe pipe(1);
    pipe.Writable()[0] = 'x';
    pipe.Commit(1);
    pipe.Cancel();
    // What was committed before is not handed out after Cancel.
    EXPECT_TRUE(pipe.Readable().empty());
  }
}

// Runs wait on this thread and, a moment later so that wait has begun to
// wait, act on a thread of its own. Fails instead of hanging when wait does
// not return after act: a wake-up that is never sent would leave a side of
// the pipe waiting for ever.
void ExpectActResumesWait(BufferPipe& pipe,
                          const std::function<void()>& act,
                          const std::function<void()>& wait) {
  std::promise<void> resumed;
  std::future<void> resumed_future = resumed.get_future();
  std::thread actor([&pipe, &act, &resumed_future] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    act();
    if (resumed_future.wait_for(std::chrono::seconds(10)) !=
        std::future_status::ready) {
      ADD_FAILURE() << "the waiting side did not resume";
      pipe.Cancel();
    }
  });
  wait();
  resumed.set_value();
  actor.join();
}

// A side that had to wait resumes once half the ring is ready for it, and
// the end of the stream wakes a waiting reader at once.
TEST(BufferPipeTest, AWaitingSideResumesOnceHalfTheRingIsReady) {
  constexpr size_t kHalf = BufferPipe::kBuffers / 2;
  const auto commit = [](BufferPipe& pipe, char c) {
    pipe.Writable()[0] = c;
    pipe.Commit(1);
  };
  {
    BufferPipe pipe(1);
    for (size_t i = 0; i < BufferPipe::kBuffers; ++i)
      commit(pipe, 'x');
    ExpectActResumesWait(
        pipe,
        [&pipe] {
          for (size_t i = 0; i < kHalf; ++i) {
            EXPECT_FALSE(pipe.Readable().empty());
            pipe.Release();
          }
        },
        [&pipe] { EXPECT_FALSE(pipe.Writable().empty()); });
  }
  {
    BufferPipe pipe(1);
    commit(pipe, 'a');
    ASSERT_EQ(pipe.Readable()[0], 'a');
    // The reader holds its piece and waits for the ones after it.
    ExpectActResumesWait(
        pipe,
        [&pipe, &commit] {
          for (size_t i = 0; i < kHalf; ++i)
            commit(pipe, 'b');
        },
        [&pipe] { EXPECT_TRUE(pipe.WaitForNext()); });
  }
  {
    BufferPipe pipe(1);
    ExpectActResumesWait(
        pipe,
        [&pipe, &commit] {
          commit(pipe, 'z');
          pipe.Close();
        },
        [&pipe] {
          const std::span<const char> piece = pipe.Readable();
          EXPECT_EQ(std::string(piece.begin(), piece.end()), "z");
        });
  }
}

}  // namespace
}  // namespace base::thread
