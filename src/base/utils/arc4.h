#ifndef BASE_UTILS_ARC4_H_
#define BASE_UTILS_ARC4_H_

#include <string>
#include <string_view>

namespace base::utils {

// data XORed with the ARC4 (RC4) keystream of key: a fresh cipher state per
// call, keyed with every byte of key, and nothing of the keystream skipped,
// so the result has the length of data and applying it twice with the same
// key gives data back. This scrambles; it does not protect anything.
//
// An empty key yields an empty result: ARC4 has no keystream for it, and an
// unscrambled copy of data would pass for a scrambled one. Only the first
// 256 key bytes take part in the key schedule, as in every ARC4.
std::string Arc4Crypt(std::string_view data, std::string_view key);

}  // namespace base::utils

#endif  // BASE_UTILS_ARC4_H_
