// A small JSON reader for the Wycheproof vector files: objects, arrays,
// strings (with the common escapes), numbers, true, false and null.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kel::test {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> fields;

  const Json &operator[](const std::string &key) const {
    static const Json kMissing;
    auto it = fields.find(key);
    return it == fields.end() ? kMissing : it->second;
  }

  static Json Parse(const std::string &s) {
    size_t pos = 0;
    Json j = Value(s, pos);
    Skip(s, pos);
    if (pos != s.size()) ADD_FAILURE() << "trailing JSON at " << pos;
    return j;
  }

 private:
  static void Skip(const std::string &s, size_t &p) {
    while (p < s.size() && (s[p] == ' ' || s[p] == '\n' || s[p] == '\r' || s[p] == '\t')) ++p;
  }
  static std::string String(const std::string &s, size_t &p) {
    std::string out;
    for (++p; p < s.size() && s[p] != '"'; ++p) {
      if (s[p] != '\\') {
        out += s[p];
        continue;
      }
      const char e = s[++p];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          const unsigned cp = std::stoul(s.substr(p + 1, 4), nullptr, 16);
          p += 4;
          if (cp < 0x80) {
            out += static_cast<char>(cp);
          } else if (cp < 0x800) {
            out += static_cast<char>(0xc0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 63));
          } else {
            out += static_cast<char>(0xe0 | cp >> 12);
            out += static_cast<char>(0x80 | ((cp >> 6) & 63));
            out += static_cast<char>(0x80 | (cp & 63));
          }
          break;
        }
        default: out += e; break;
      }
    }
    ++p;  // the closing quote
    return out;
  }
  static Json Value(const std::string &s, size_t &p) {
    Skip(s, p);
    Json j;
    if (p >= s.size()) {
      ADD_FAILURE() << "JSON ends early";
      return j;
    }
    const char c = s[p];
    if (c == '{') {
      j.kind = kObject;
      ++p;
      for (Skip(s, p); p < s.size() && s[p] != '}';) {
        std::string key = String(s, p);
        Skip(s, p);
        ++p;  // ':'
        j.fields[key] = Value(s, p);
        Skip(s, p);
        if (s[p] == ',') ++p, Skip(s, p);
      }
      ++p;
    } else if (c == '[') {
      j.kind = kArray;
      ++p;
      for (Skip(s, p); p < s.size() && s[p] != ']';) {
        j.items.push_back(Value(s, p));
        Skip(s, p);
        if (s[p] == ',') ++p, Skip(s, p);
      }
      ++p;
    } else if (c == '"') {
      j.kind = kString;
      j.text = String(s, p);
    } else if (s.compare(p, 4, "true") == 0 || s.compare(p, 5, "false") == 0) {
      j.kind = kBool;
      j.number = c == 't';
      p += c == 't' ? 4 : 5;
    } else if (s.compare(p, 4, "null") == 0) {
      p += 4;
    } else {
      j.kind = kNumber;
      size_t used = 0;
      j.number = std::stod(s.substr(p, 32), &used);
      p += used;
    }
    return j;
  }
};

}  // namespace kel::test
