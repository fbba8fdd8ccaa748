#include "mini_json.h"

#include <cstdlib>

#include "base/text.h"

namespace tabulon::testing {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  bool Parse(Json& out) {
    if (!Value(out)) return false;
    Skip();
    return pos_ == s_.size() || Fail("trailing characters");
  }
  std::string error;

 private:
  bool Fail(const char* what) {
    error = std::string(what) + " at offset " + std::to_string(pos_);
    return false;
  }
  void Skip() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t')) {
      ++pos_;
    }
  }
  bool Literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return Fail("bad literal");
    pos_ += word.size();
    return true;
  }
  bool Hex4(uint32_t& v) {
    if (pos_ + 4 > s_.size()) return Fail("short escape");
    v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[pos_++];
      v <<= 4;
      if (c >= '0' && c <= '9')
        v |= c - '0';
      else if (c >= 'a' && c <= 'f')
        v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        v |= c - 'A' + 10;
      else
        return Fail("bad hex digit");
    }
    return true;
  }
  bool String(std::string& out) {
    ++pos_;                  // opening quote
    std::u16string pending;  // \u escapes, joined so surrogate pairs decode
    auto flush = [&] {
      if (!pending.empty()) out += Utf16ToUtf8(pending);
      pending.clear();
    };
    while (pos_ < s_.size()) {
      const char c = s_[pos_++];
      if (c == '"') {
        flush();
        return true;
      }
      if (c != '\\') {
        flush();
        out.push_back(c);
        continue;
      }
      if (pos_ >= s_.size()) break;
      const char e = s_[pos_++];
      if (e == 'u') {
        uint32_t v;
        if (!Hex4(v)) return false;
        pending.push_back(static_cast<char16_t>(v));
        continue;
      }
      flush();
      switch (e) {
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        default: out.push_back(e); break;
      }
    }
    return Fail("unterminated string");
  }
  bool Value(Json& out) {
    Skip();
    if (pos_ >= s_.size()) return Fail("unexpected end");
    const char c = s_[pos_];
    if (c == '{') {
      out.kind = Json::Kind::kObject;
      ++pos_;
      Skip();
      if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
      while (true) {
        Skip();
        if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("expected a key");
        std::string key;
        if (!String(key)) return false;
        Skip();
        if (pos_ >= s_.size() || s_[pos_++] != ':') return Fail("expected ':'");
        Json value;
        if (!Value(value)) return false;
        out.members.emplace_back(std::move(key), std::move(value));
        Skip();
        if (pos_ < s_.size() && s_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
        return Fail("expected ',' or '}'");
      }
    }
    if (c == '[') {
      out.kind = Json::Kind::kArray;
      ++pos_;
      Skip();
      if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
      while (true) {
        Json value;
        if (!Value(value)) return false;
        out.items.push_back(std::move(value));
        Skip();
        if (pos_ < s_.size() && s_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
        return Fail("expected ',' or ']'");
      }
    }
    if (c == '"') {
      out.kind = Json::Kind::kString;
      return String(out.text);
    }
    if (c == 't') {
      out.kind = Json::Kind::kBool;
      out.boolean = true;
      return Literal("true");
    }
    if (c == 'f') {
      out.kind = Json::Kind::kBool;
      return Literal("false");
    }
    if (c == 'n') return Literal("null");
    const size_t start = pos_;
    while (pos_ < s_.size() && std::string_view("+-0123456789.eE").find(s_[pos_]) != std::string_view::npos) {
      ++pos_;
    }
    if (pos_ == start) return Fail("unexpected character");
    out.kind = Json::Kind::kNumber;
    out.text = std::string(s_.substr(start, pos_ - start));
    out.number = std::strtod(out.text.c_str(), nullptr);
    return true;
  }

  std::string_view s_;
  size_t pos_ = 0;
};

}  // namespace

const Json* Json::Find(std::string_view key) const {
  for (const auto& [k, v] : members) {
    if (k == key) return &v;
  }
  return nullptr;
}

const Json& Json::operator[](std::string_view key) const {
  static const Json kNull;
  const Json* found = Find(key);
  return found ? *found : kNull;
}

std::optional<Json> ParseJson(std::string_view text, std::string* error) {
  Parser parser(text);
  Json out;
  if (!parser.Parse(out)) {
    if (error) *error = parser.error;
    return std::nullopt;
  }
  return out;
}

}  // namespace tabulon::testing
