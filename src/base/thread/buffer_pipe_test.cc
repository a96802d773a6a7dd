#include "base/thread/buffer_pipe.h"

#include <cstring>
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

}  // namespace
}  // namespace base::thread
