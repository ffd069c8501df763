// Differential test against OpenSSL: random messages of every length around
// each block boundary (the padding's one- and two-block cases included), fed
// in random pieces through every digest and HMAC form, on both block paths.
#include "hash_util.h"

namespace kel::test {
namespace {

class Differential : public HashTest {};

// Lengths within 3 bytes of every multiple of the block up to four blocks,
// and of the last length that still pads into one block.
std::vector<size_t> BoundaryLengths(size_t block) {
  const size_t lengthField = block == 128 ? 16 : 8;
  std::vector<size_t> lens;
  for (size_t k = 0; k <= 4; ++k)
    for (size_t edge : {k * block, k * block + block - lengthField - 1})
      for (size_t d = 0; d <= 6; ++d)
        if (edge + d >= 3) lens.push_back(edge + d - 3);
  return lens;
}

TEST_F(Differential, DigestsAndHmacsMatchOpenssl) {
  std::mt19937 rng(11);
  ForEachCpuPath([&] {
    for (const auto &a : Algos()) {
      for (size_t len : BoundaryLengths(a.blockSize)) {
        const Bytes msg = RandomBytes(rng, len);
        const Bytes want = OpensslDigest(a, msg);
        for (const auto &[form, got] : AllForms(a, msg, static_cast<uint32_t>(rng())))
          ASSERT_EQ(ToHex(got), ToHex(want)) << a.name << " length " << len << " " << form;
      }
      const auto lens = BoundaryLengths(a.blockSize);
      for (size_t i = 0; i < lens.size(); ++i) {
        const Bytes msg = RandomBytes(rng, lens[i]);
        // Keys of the boundary lengths too, cycled against the messages.
        const Bytes key = RandomBytes(rng, lens[(i * 7) % lens.size()] % (2 * a.blockSize + 2));
        const Bytes want = OpensslHmac(a, key, msg);
        for (const auto &[form, got] : AllHmacForms(a, key, msg, static_cast<uint32_t>(rng())))
          ASSERT_EQ(ToHex(got), ToHex(want)) << a.name << " key " << key.size() << " msg " << msg.size() << " " << form;
      }
    }
  });
}

}  // namespace
}  // namespace kel::test
