// Readers for the published vector files under tests/vectors.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kel::test {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string &hex);  // ignores blanks; odd length or bad digit: empty + ADD_FAILURE
std::string ToHex(const uint8_t *data, size_t len);
inline std::string ToHex(const Bytes &b) { return ToHex(b.data(), b.size()); }

// Absolute path of a file below tests/vectors.
std::string VectorPath(const std::string &relative);

// One record of a NIST CAVP response file (.rsp/.req/.fax): the "Key = Value"
// lines of one blank-line separated block, plus the "[...]" section headers
// in force (e.g. {"L": "32"} for "[L = 32]", or {"ENCRYPT": ""}).
struct RspRecord {
  std::map<std::string, std::string> fields;
  std::map<std::string, std::string> section;
  int line = 0;  // where the record starts, for failure messages
  bool Has(const std::string &k) const { return fields.count(k) != 0; }
  const std::string &Get(const std::string &k) const;
  Bytes Hex(const std::string &k) const { return FromHex(Get(k)); }
};

// Reads every record of the file; fails the current test when it cannot be read.
std::vector<RspRecord> ReadRsp(const std::string &relative);

}  // namespace kel::test
