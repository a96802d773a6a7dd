#include "base/utils/arc4.h"

#include <mbedtls/arc4.h>

#include <algorithm>
#include <cstddef>

namespace base::utils {

namespace {

// The key schedule walks a 256-byte state; key bytes past it are never read.
constexpr size_t kMaxKeyLength = 256;

// Frees the context on every path, so its state never outlives the call.
class ScopedArc4Context final {
 public:
  ScopedArc4Context() { mbedtls_arc4_init(&context_); }
  ScopedArc4Context(const ScopedArc4Context&) = delete;
  ScopedArc4Context& operator=(const ScopedArc4Context&) = delete;
  ~ScopedArc4Context() { mbedtls_arc4_free(&context_); }

  mbedtls_arc4_context* get() { return &context_; }

 private:
  mbedtls_arc4_context context_;
};

}  // namespace

std::string Arc4Crypt(std::string_view data, std::string_view key) {
  // Mbed TLS reads key[0] for every round when the length is 0, past the end
  // of an empty key.
  if (data.empty() || key.empty()) {
    return std::string();
  }
  ScopedArc4Context context;
  mbedtls_arc4_setup(
      context.get(), reinterpret_cast<const unsigned char*>(key.data()),
      static_cast<unsigned int>(std::min(key.size(), kMaxKeyLength)));
  std::string output(data.size(), '\0');
  if (mbedtls_arc4_crypt(context.get(), data.size(),
                         reinterpret_cast<const unsigned char*>(data.data()),
                         reinterpret_cast<unsigned char*>(output.data())) !=
      0) {
    return std::string();
  }
  return output;
}

}  // namespace base::utils
