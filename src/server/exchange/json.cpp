#include "server/exchange/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace apura::server {

const Json* Json::Find(std::string_view key) const {
  if (!IsObject()) return nullptr;
  for (const auto& [k, v] : AsObject()) {
    if (k == key) return &v;
  }
  return nullptr;
}

Json& Json::Set(std::string key, Json value) {
  Object& o = AsObject();
  o.emplace_back(std::move(key), std::move(value));
  return o.back().second;
}

namespace {

void Quote(std::string& out, std::string_view s) {
  out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void Number(std::string& out, double d) {
  if (!std::isfinite(d)) {
    out += "null";
    return;
  }
  char buf[32];
  if (d == std::floor(d) && std::fabs(d) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", d);
  } else {
    std::snprintf(buf, sizeof buf, "%.17g", d);
    // Prefer the shortest form that reads back as the same number.
    for (int p = 1; p <= 17; ++p) {
      char shorter[32];
      std::snprintf(shorter, sizeof shorter, "%.*g", p, d);
      if (std::strtod(shorter, nullptr) == d) {
        std::snprintf(buf, sizeof buf, "%s", shorter);
        break;
      }
    }
  }
  out += buf;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  Json Document() {
    Json v = Parse();
    Skip();
    if (i_ != s_.size()) Fail("unexpected text after the document");
    return v;
  }

 private:
  std::string_view s_;
  size_t i_ = 0;
  int depth_ = 0;

  [[noreturn]] void Fail(const std::string& what) {
    size_t line = 1, col = 1;
    for (size_t k = 0; k < i_ && k < s_.size(); ++k) {
      if (s_[k] == '\n') {
        ++line;
        col = 1;
      } else {
        ++col;
      }
    }
    throw JsonError("JSON line " + std::to_string(line) + ", column " + std::to_string(col) + ": " +
                    what);
  }

  void Skip() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t'))
      ++i_;
  }

  bool Literal(std::string_view word) {
    if (s_.substr(i_, word.size()) == word) {
      i_ += word.size();
      return true;
    }
    return false;
  }

  Json Parse() {
    Skip();
    if (i_ >= s_.size()) Fail("unexpected end of text");
    if (++depth_ > 200) Fail("nesting too deep");
    Json v;
    char c = s_[i_];
    if (c == '{') {
      v = ParseObject();
    } else if (c == '[') {
      v = ParseArray();
    } else if (c == '"') {
      v = Json(ParseString());
    } else if (Literal("true")) {
      v = Json(true);
    } else if (Literal("false")) {
      v = Json(false);
    } else if (Literal("null")) {
      v = Json();
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      v = Json(ParseNumber());
    } else {
      Fail(std::string("unexpected character '") + c + "'");
    }
    --depth_;
    return v;
  }

  Json ParseObject() {
    ++i_;
    Json::Object o;
    Skip();
    if (i_ < s_.size() && s_[i_] == '}') {
      ++i_;
      return Json(std::move(o));
    }
    for (;;) {
      Skip();
      if (i_ >= s_.size() || s_[i_] != '"') Fail("expected a member name");
      std::string key = ParseString();
      Skip();
      if (i_ >= s_.size() || s_[i_] != ':') Fail("expected ':' after \"" + key + "\"");
      ++i_;
      o.emplace_back(std::move(key), Parse());
      Skip();
      if (i_ < s_.size() && s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (i_ < s_.size() && s_[i_] == '}') {
        ++i_;
        return Json(std::move(o));
      }
      Fail("expected ',' or '}'");
    }
  }

  Json ParseArray() {
    ++i_;
    Json::Array a;
    Skip();
    if (i_ < s_.size() && s_[i_] == ']') {
      ++i_;
      return Json(std::move(a));
    }
    for (;;) {
      a.push_back(Parse());
      Skip();
      if (i_ < s_.size() && s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (i_ < s_.size() && s_[i_] == ']') {
        ++i_;
        return Json(std::move(a));
      }
      Fail("expected ',' or ']'");
    }
  }

  void Utf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  unsigned Hex4() {
    if (i_ + 4 > s_.size()) Fail("truncated \\u escape");
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
      char h = s_[i_++];
      v <<= 4;
      if (h >= '0' && h <= '9')
        v |= h - '0';
      else if (h >= 'a' && h <= 'f')
        v |= h - 'a' + 10;
      else if (h >= 'A' && h <= 'F')
        v |= h - 'A' + 10;
      else
        Fail("bad \\u escape");
    }
    return v;
  }

  std::string ParseString() {
    ++i_;
    std::string out;
    for (;;) {
      if (i_ >= s_.size()) Fail("unterminated string");
      char c = s_[i_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("control character in string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) Fail("unterminated string");
      char e = s_[i_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned cp = Hex4();
          if (cp >= 0xD800 && cp < 0xDC00 && s_.substr(i_, 2) == "\\u") {
            i_ += 2;
            unsigned lo = Hex4();
            if (lo < 0xDC00 || lo >= 0xE000) Fail("bad surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          Utf8(out, cp);
          break;
        }
        default:
          Fail(std::string("bad escape '\\") + e + "'");
      }
    }
  }

  double ParseNumber() {
    size_t start = i_;
    if (s_[i_] == '-') ++i_;
    if (i_ + 1 < s_.size() && s_[i_] == '0' && s_[i_ + 1] >= '0' && s_[i_ + 1] <= '9') {
      Fail("number with a leading zero");
    }
    while (i_ < s_.size() && ((s_[i_] >= '0' && s_[i_] <= '9') || s_[i_] == '.' || s_[i_] == 'e' ||
                              s_[i_] == 'E' || s_[i_] == '+' || s_[i_] == '-'))
      ++i_;
    std::string text(s_.substr(start, i_ - start));
    char* end = nullptr;
    double d = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) {
      i_ = start;
      Fail("malformed number");
    }
    return d;
  }
};

}  // namespace

void Json::DumpTo(std::string& out, int indent, int level) const {
  auto newline = [&](int lv) {
    if (indent <= 0) return;
    out += '\n';
    out.append(static_cast<size_t>(indent * lv), ' ');
  };
  switch (v_.index()) {
    case 0:
      out += "null";
      break;
    case 1:
      out += AsBool() ? "true" : "false";
      break;
    case 2:
      Number(out, AsNumber());
      break;
    case 3:
      Quote(out, AsString());
      break;
    case 4: {
      const Array& a = AsArray();
      if (a.empty()) {
        out += "[]";
        break;
      }
      // Arrays of scalars stay on one line; they are rows of a table.
      bool flat = true;
      for (const Json& j : a) flat = flat && !j.IsArray() && !j.IsObject();
      out += '[';
      for (size_t k = 0; k < a.size(); ++k) {
        if (k) out += flat ? ", " : ",";
        if (!flat) newline(level + 1);
        a[k].DumpTo(out, indent, level + 1);
      }
      if (!flat) newline(level);
      out += ']';
      break;
    }
    case 5: {
      const Object& o = AsObject();
      if (o.empty()) {
        out += "{}";
        break;
      }
      out += '{';
      for (size_t k = 0; k < o.size(); ++k) {
        if (k) out += ',';
        newline(level + 1);
        Quote(out, o[k].first);
        out += indent > 0 ? ": " : ":";
        o[k].second.DumpTo(out, indent, level + 1);
      }
      newline(level);
      out += '}';
      break;
    }
  }
}

std::string Json::Dump(int indent) const {
  std::string out;
  DumpTo(out, indent, 0);
  return out;
}

Json Json::Parse(std::string_view text) {
  return Parser(text).Document();
}

}  // namespace apura::server
