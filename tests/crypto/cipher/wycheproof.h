// A small JSON reader for the Wycheproof vector files: objects, arrays,
// strings, numbers (kept as text), true/false/null.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/vectors.h"

namespace kel::test {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  std::string text;  // string value, or the number's digits, or "true"/"false"
  std::vector<Json> items;
  std::map<std::string, Json> fields;

  const Json &operator[](const std::string &k) const {
    static const Json kMissing;
    auto it = fields.find(k);
    return it == fields.end() ? kMissing : it->second;
  }
  int Int() const { return kind == kNumber ? std::stoi(text) : 0; }
  Bytes Hex() const { return FromHex(text); }
};

class JsonParser {
 public:
  explicit JsonParser(std::string s) : s_(std::move(s)) {}
  bool Parse(Json &out) {
    out = Value();
    Skip();
    return ok_ && pos_ == s_.size();
  }

 private:
  void Skip() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  bool Eat(char c) {
    Skip();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  std::string String() {
    std::string r;
    if (!Eat('"')) {
      ok_ = false;
      return r;
    }
    while (pos_ < s_.size() && s_[pos_] != '"') {
      if (s_[pos_] == '\\' && pos_ + 1 < s_.size()) {
        char e = s_[++pos_];
        if (e == 'u') {  // only ASCII escapes occur in the comments we skip
          r.push_back('?');
          pos_ += 4;
        } else {
          r.push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e);
        }
        ++pos_;
        continue;
      }
      r.push_back(s_[pos_++]);
    }
    ++pos_;
    return r;
  }
  Json Value() {
    Json j;
    Skip();
    if (pos_ >= s_.size()) {
      ok_ = false;
      return j;
    }
    const char c = s_[pos_];
    if (c == '{') {
      j.kind = Json::kObject;
      ++pos_;
      if (Eat('}')) return j;
      do {
        std::string k = String();
        if (!Eat(':')) ok_ = false;
        j.fields[k] = Value();
      } while (ok_ && Eat(','));
      if (!Eat('}')) ok_ = false;
    } else if (c == '[') {
      j.kind = Json::kArray;
      ++pos_;
      if (Eat(']')) return j;
      do j.items.push_back(Value());
      while (ok_ && Eat(','));
      if (!Eat(']')) ok_ = false;
    } else if (c == '"') {
      j.kind = Json::kString;
      j.text = String();
    } else {
      size_t start = pos_;
      while (pos_ < s_.size() && std::string(",]} \n\r\t").find(s_[pos_]) == std::string::npos) ++pos_;
      j.text = s_.substr(start, pos_ - start);
      j.kind = (j.text == "true" || j.text == "false") ? Json::kBool : j.text == "null" ? Json::kNull : Json::kNumber;
    }
    return j;
  }
  std::string s_;
  size_t pos_ = 0;
  bool ok_ = true;
};

inline Json ReadJson(const std::string &relative) {
  std::ifstream in(VectorPath(relative));
  std::stringstream ss;
  ss << in.rdbuf();
  Json j;
  EXPECT_TRUE(in && JsonParser(ss.str()).Parse(j)) << "cannot parse " << relative;
  return j;
}

// Calls f(group, test) for every test of every group.
template <class F>
void ForEachWycheproof(const Json &file, F f) {
  for (const Json &g : file["testGroups"].items)
    for (const Json &t : g["tests"].items) {
      SCOPED_TRACE("tcId " + t["tcId"].text + " " + t["comment"].text);
      f(g, t);
    }
}

}  // namespace kel::test
