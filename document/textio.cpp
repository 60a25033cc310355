#include "document/textio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace lq {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 for 0x80..0x9F; the five unassigned bytes map to the C1 controls
// as Windows itself does. 0xA0..0xFF equal their code points.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// Length of the valid UTF-8 sequence at s[i], or 0 when there is none.
size_t Utf8SequenceLength(std::string_view s, size_t i, char32_t& cp) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char lead = b(0);
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  if (b(1) < lo || b(1) > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if ((b(k) & 0xC0) != 0x80) return 0;
  char32_t c = lead & (0xFF >> (len + 1));
  for (size_t k = 1; k < len; ++k) c = (c << 6) | (b(k) & 0x3F);
  cp = c;
  return len;
}

// Calls f for each code point; bytes outside valid UTF-8 count as Windows-1252.
template <typename F>
void ForEachCodePoint(std::string_view s, F&& f) {
  size_t i = 0;
  while (i < s.size()) {
    char32_t cp = 0;
    size_t len = Utf8SequenceLength(s, i, cp);
    if (len == 0) {
      const unsigned char byte = static_cast<unsigned char>(s[i]);
      cp = byte < 0xA0 ? char32_t(kCp1252High[byte - 0x80]) : char32_t(byte);
      len = 1;
    }
    f(cp);
    i += len;
  }
}

std::string DecodeUtf16(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  const size_t units = bytes.size() / 2;
  auto unit = [&](size_t k) -> char16_t {
    const auto a = static_cast<unsigned char>(bytes[2 * k]);
    const auto b = static_cast<unsigned char>(bytes[2 * k + 1]);
    return bigEndian ? char16_t((a << 8) | b) : char16_t((b << 8) | a);
  };
  for (size_t k = 0; k < units; ++k) {
    const char16_t u = unit(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
      const char16_t v = unit(k + 1);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(v) - 0xDC00));
        ++k;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : char32_t(u));
  }
  if (bytes.size() % 2) AppendUtf8(out, kReplacement);
  return out;
}

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

std::string ErrnoText(int err) { return std::generic_category().message(err); }

}  // namespace

DecodedText DecodeText(std::string_view bytes) {
  DecodedText d;
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    d.encoding = TextEncoding::Utf8Bom;
    bytes.remove_prefix(3);
  } else if (StartsWith(bytes, "\xFF\xFE")) {
    d.encoding = TextEncoding::Utf16LE;
    d.utf8 = DecodeUtf16(bytes.substr(2), false);
    return d;
  } else if (StartsWith(bytes, "\xFE\xFF")) {
    d.encoding = TextEncoding::Utf16BE;
    d.utf8 = DecodeUtf16(bytes.substr(2), true);
    return d;
  }
  d.utf8.reserve(bytes.size());
  ForEachCodePoint(bytes, [&](char32_t c) { AppendUtf8(d.utf8, c); });
  return d;
}

std::string EncodeText(std::string_view utf8, TextEncoding encoding) {
  std::string out;
  switch (encoding) {
    case TextEncoding::Utf8:
    case TextEncoding::Utf8Bom:
      if (encoding == TextEncoding::Utf8Bom) out = "\xEF\xBB\xBF";
      out.reserve(out.size() + utf8.size());
      ForEachCodePoint(utf8, [&](char32_t c) { AppendUtf8(out, c); });
      return out;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: {
      const bool be = encoding == TextEncoding::Utf16BE;
      auto put = [&](char16_t u) {
        const char hi = char(u >> 8), lo = char(u & 0xFF);
        out += be ? hi : lo;
        out += be ? lo : hi;
      };
      put(0xFEFF);
      ForEachCodePoint(utf8, [&](char32_t c) {
        if (c >= 0x10000) {
          c -= 0x10000;
          put(char16_t(0xD800 + (c >> 10)));
          put(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
          put(char16_t(c));
        }
      });
      return out;
    }
  }
  return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

bool ReadWholeFile(const std::string& fileName, std::string& bytes, std::string* error) {
  // Scripts and presets are small; a huge file is a mistake, not something to allocate for.
  constexpr off_t kMaxBytes = off_t(64) << 20;
  auto fail = [&](const std::string& reason) {
    if (error) *error = reason;
    return false;
  };
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(ErrnoText(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail("not a regular file");
  }
  if (st.st_size > kMaxBytes) {
    ::close(fd);
    return fail("file is too large");
  }
  std::string data;
  data.resize(size_t(st.st_size));
  size_t got = 0;
  while (got < data.size()) {
    const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      return fail(ErrnoText(err));
    }
    if (n == 0) break;  // the file shrank while we read it
    got += size_t(n);
  }
  ::close(fd);
  data.resize(got);
  bytes = std::move(data);
  return true;
}

std::string_view TrimControl(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

bool TryParseInt32(std::string_view s, int32_t& out) {
  s = TrimControl(s);
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s[0] == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return false;
  int64_t v = 0;
  const int64_t limit = int64_t(std::numeric_limits<int32_t>::max()) + (negative ? 1 : 0);
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * base + d;
    if (v > limit) return false;
  }
  out = int32_t(negative ? -v : v);
  return true;
}

bool TryParseDecimal(std::string_view s, float& out) {
  s = TrimControl(s);
  std::string norm;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') norm += '-';
    ++i;
  }
  size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') norm += s[i++], ++digits;
  if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
    norm += '.';
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') norm += s[i++], ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    norm += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) norm += s[i++];
    size_t expDigits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') norm += s[i++], ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != s.size()) return false;
  double v = 0;
  auto [ptr, ec] = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (ec != std::errc() || ptr != norm.data() + norm.size()) return false;
  if (!std::isfinite(v) || std::fabs(v) > double(std::numeric_limits<float>::max())) return false;
  out = float(v);
  return true;
}

std::string FormatDecimal(double value, int maxDecimals) {
  if (!std::isfinite(value)) return "0";
  char buf[400];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, maxDecimals < 0 ? 0 : maxDecimals);
  if (ec != std::errc()) return "0";
  std::string s(buf, ptr);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

}  // namespace lq
