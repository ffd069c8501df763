#include "support/vectors.h"

#include <gtest/gtest.h>

#include <cctype>
#include <charconv>
#include <fstream>

namespace kel::test {

static std::string Trim(const std::string &s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

Bytes FromHex(const std::string &hex) {
  std::string digits;
  for (char c : hex)
    if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
  Bytes out(digits.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    if (std::from_chars(&digits[2 * i], &digits[2 * i + 2], out[i], 16).ptr != &digits[2 * i + 2]) out.clear();
  if (digits.size() % 2 != 0 || out.size() != digits.size() / 2) {
    ADD_FAILURE() << "odd-length hex or bad hex digit in '" << hex << "'";
    return {};
  }
  return out;
}

std::string ToHex(const uint8_t *data, size_t len) {
  std::string s;
  for (size_t i = 0; i < len; ++i) {
    s += "0123456789abcdef"[data[i] >> 4];
    s += "0123456789abcdef"[data[i] & 15];
  }
  return s;
}

std::string VectorPath(const std::string &relative) { return std::string(KEL_VECTOR_DIR) + "/" + relative; }

const std::string &RspRecord::Get(const std::string &k) const {
  static const std::string kEmpty;
  auto it = fields.find(k);
  if (it == fields.end()) {
    ADD_FAILURE() << "record at line " << line << " has no field " << k;
    return kEmpty;
  }
  return it->second;
}

std::vector<RspRecord> ReadRsp(const std::string &relative) {
  std::vector<RspRecord> records;
  std::ifstream in(VectorPath(relative));
  if (!in) {
    ADD_FAILURE() << "cannot read " << VectorPath(relative);
    return records;
  }
  std::map<std::string, std::string> section;
  bool sectionOpen = false;  // consecutive [..] lines form one section
  RspRecord cur;
  int lineNo = 0;
  auto flush = [&] {
    if (!cur.fields.empty()) records.push_back(cur);
    cur = RspRecord{};
  };
  for (std::string raw; std::getline(in, raw);) {
    ++lineNo;
    std::string line = Trim(raw);
    if (line.empty()) {
      flush();
      sectionOpen = false;
      continue;
    }
    if (line[0] == '#') continue;
    if (line[0] == '[') {
      flush();
      if (!sectionOpen) section.clear();
      sectionOpen = true;
      const std::string body = line.substr(1, line.find(']') - 1);
      const size_t eq = body.find('=');
      section[Trim(body.substr(0, eq))] = eq == std::string::npos ? "" : Trim(body.substr(eq + 1));
      continue;
    }
    sectionOpen = false;
    const size_t eq = line.find('=');  // none in lone words such as "FAIL" in decrypt files
    if (cur.fields.empty()) {
      cur.line = lineNo;
      if (eq != std::string::npos) cur.section = section;
    }
    cur.fields[Trim(line.substr(0, eq))] = eq == std::string::npos ? "" : Trim(line.substr(eq + 1));
  }
  flush();
  return records;
}

}  // namespace kel::test
