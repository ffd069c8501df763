// The kernel table of the cipher area, chosen from the CPU features: AES-NI
// (x86/aes_ni.cpp), the wide VAES engines (x86/aes_vaes.cpp), carry-less
// GHASH (x86/ghash_clmul.cpp) and the DES bit-shuffle rounds
// (x86/des_avx512.cpp) where the CPU has them, the portable forms otherwise.
#include "crypto/cipher/gcm_internal.h"
#include "crypto/cipher/internal.h"
#include "crypto/cipher/x86/aes_ni.h"
#include "crypto/cipher/x86/aes_vaes.h"
#include "crypto/cipher/x86/des_avx512.h"

namespace kel::cipher {

Kernels g_kernels;
std::atomic<bool> g_kernelsReady{false};

namespace {

template <class F>
void set(std::atomic<F> &entry, F value) {
  entry.store(value, std::memory_order_relaxed);
}

}  // namespace

void fill_kernels() {
  Kernels &k = g_kernels;
  const bool ni = aes::ni::available(), vaes = aes::vaes::available();
  set<Kernels::KeySetup>(k.keySetupEnc, ni ? aes::ni::key_setup_enc : aes::table::key_setup_enc);
  set<Kernels::KeySetup>(k.keySetupDec, ni ? aes::ni::key_setup_dec : aes::table::key_setup_dec);
  set<Kernels::Block>(k.encryptBlock, ni ? aes::ni::encrypt_block : aes::table::encrypt_block);
  set<Kernels::Block>(k.decryptBlock, ni ? aes::ni::decrypt_block : aes::table::decrypt_block);
  set<Kernels::Blocks>(k.encrypt, ni ? aes::ni::encrypt_blocks : aes::table::encrypt_blocks);
  set<Kernels::Blocks>(k.decrypt, ni ? aes::ni::decrypt_blocks : aes::table::decrypt_blocks);
  set<Kernels::Blocks>(k.encryptWide, vaes ? aes::vaes::encrypt_blocks : nullptr);
  set<Kernels::Blocks>(k.decryptWide, vaes ? aes::vaes::decrypt_blocks : nullptr);
  set<Kernels::Chain>(k.cbcEncrypt, ni ? aes::ni::cbc_encrypt : aes::table::cbc_encrypt);
  set<Kernels::Chain>(k.cbcDecrypt, ni ? aes::ni::cbc_decrypt : aes::table::cbc_decrypt);
  set<Kernels::Chain>(k.cbcDecryptWide, vaes ? aes::vaes::cbc_decrypt : nullptr);
  set<Kernels::Ctr32>(k.ctr32, ni ? aes::ni::ctr32_xor : nullptr);
  set<Kernels::Ctr32>(k.ctr32Wide, vaes ? aes::vaes::ctr32_xor : nullptr);
  set<Kernels::Mac>(k.cbcMac, ni ? aes::ni::cbc_mac : aes::table::cbc_mac);
  set<Kernels::Ccm>(k.ccm, ni ? aes::ni::ccm_blocks : aes::table::ccm_blocks);
  const bool clmul = gcm::clmul::available();
  set<Kernels::Xts>(k.xts, ni ? aes::ni::xts_blocks : aes::table::xts_blocks);
  set<Kernels::Xts>(k.xtsWide, vaes && gcm::vpclmul::available() ? aes::vaes::xts_blocks : nullptr);
  set<Kernels::Ghash>(k.ghash, clmul ? gcm::clmul::ghash : nullptr);
  set<Kernels::Ghash>(k.ghashWide, clmul && gcm::vpclmul::available() ? gcm::vpclmul::ghash : nullptr);
  set<Kernels::Powers>(k.ghashPowers, clmul ? gcm::clmul::init_powers : nullptr);
  set<Kernels::GcmText>(k.gcmText, clmul && ni ? aes::ni::gcm_blocks : nullptr);
  set<Kernels::GcmText>(k.gcmTextWide,
                        clmul && vaes && gcm::vpclmul::available() ? aes::vaes::gcm_blocks : nullptr);
  set<Kernels::GcmStart>(k.gcmStart, clmul && ni ? aes::ni::gcm_start : nullptr);
  set<Kernels::DesRounds>(k.desRounds, des::avx512::available() ? des::avx512::rounds : nullptr);
  g_kernelsReady.store(true, std::memory_order_release);
}

}  // namespace kel::cipher
