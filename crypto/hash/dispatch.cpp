// The block functions behind every digest: the hardware kernel when this CPU
// offers it, the portable loop otherwise. The choice is made on every call
// (a feature lookup costs a couple of loads) so that restricting the CPU
// features at run time takes effect at once.
#include "crypto/hash/kernels.h"
#include "crypto/hash/internal.h"

namespace kel::hash {

Md5Blocks md5_kernel() { return md5_fast_available() ? md5_blocks_fast : md5_blocks_portable; }
Sha1Blocks sha1_kernel() { return sha1_shani_available() ? sha1_blocks_shani : sha1_blocks_portable; }
Sha256Blocks sha256_kernel() { return sha256_shani_available() ? sha256_blocks_shani : sha256_blocks_portable; }
Sha512Blocks sha512_kernel() { return sha512_fast_available() ? sha512_blocks_fast : sha512_blocks_portable; }

void md5_blocks(uint32_t state[4], const uint8_t *data, size_t blocks) {
  if (md5_fast_available()) return md5_blocks_fast(state, data, blocks);
  md5_blocks_portable(state, data, blocks);
}

void sha1_blocks(uint32_t state[5], const uint8_t *data, size_t blocks) {
  if (sha1_shani_available()) return sha1_blocks_shani(state, data, blocks);
  sha1_blocks_portable(state, data, blocks);
}

void sha256_blocks(uint32_t state[8], const uint8_t *data, size_t blocks) {
  if (sha256_shani_available()) return sha256_blocks_shani(state, data, blocks);
  sha256_blocks_portable(state, data, blocks);
}

void sha512_blocks(uint64_t state[8], const uint8_t *data, size_t blocks) {
  if (sha512_fast_available()) return sha512_blocks_fast(state, data, blocks);
  sha512_blocks_portable(state, data, blocks);
}

}  // namespace kel::hash
