// Key generation at 2048 and 3072 bits (minutes on a shared machine).
#include "rsa_keygen_test_util.h"

namespace kel::test {
namespace {

TEST_F(RsaTest, Generate2048) { CheckGeneratedKey(2048); }
TEST_F(RsaTest, Generate3072) { CheckGeneratedKey(3072); }

}  // namespace
}  // namespace kel::test
