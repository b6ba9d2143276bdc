#include "tracing/portable/format_object.h"

#include <cstdio>
#include <cwchar>

namespace tracecore {
namespace {

struct directive_t {
  std::string flags;
  int width = -1;
  int precision = -1;
  std::string length;  // "", "h", "l", "ll", "L"
  wchar_t conversion = 0;
};

bool is_flag(wchar_t c) {
  return c == L'-' || c == L'+' || c == L'0' || c == L' ' || c == L'#';
}

std::wstring widen_ascii(const char* text) {
  std::wstring out;
  for (; *text; ++text)
    out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
  return out;
}

// Narrow printf directive for an integer or floating conversion.
std::string narrow_spec(const directive_t& d, const char* length, char conversion) {
  std::string directive_text = "%" + d.flags;
  if (d.width >= 0)
    directive_text += std::to_string(d.width);
  if (d.precision >= 0)
    directive_text += "." + std::to_string(d.precision);
  directive_text += length;
  directive_text += conversion;
  return directive_text;
}

std::wstring render_number(const directive_t& d, std::int64_t s, std::uint64_t u, bool is_signed) {
  char buffer[160];
  const char conversion = static_cast<char>(d.conversion);
  const bool signed_conversion = conversion == 'd' || conversion == 'i';
  // Length modifiers narrow the value the way printf would.
  std::uint64_t bits = is_signed ? static_cast<std::uint64_t>(s) : u;
  if (d.length == "h")
    bits = signed_conversion
               ? static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<short>(bits)))
               : static_cast<std::uint16_t>(bits);
  else if (d.length != "ll" && d.length != "L")
    bits =
        signed_conversion
            ? static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(bits)))
            : static_cast<std::uint32_t>(bits);
  const std::string directive_text = narrow_spec(d, "ll", conversion);
  if (signed_conversion)
    std::snprintf(buffer, sizeof buffer, directive_text.c_str(), static_cast<long long>(bits));
  else
    std::snprintf(buffer, sizeof buffer, directive_text.c_str(),
                  static_cast<unsigned long long>(bits));
  return widen_ascii(buffer);
}

std::wstring pad(std::wstring text, const directive_t& d) {
  if (d.width > 0 && text.size() < static_cast<std::size_t>(d.width)) {
    const std::size_t fill = static_cast<std::size_t>(d.width) - text.size();
    if (d.flags.find('-') != std::string::npos)
      text.append(fill, L' ');
    else
      text.insert(0, fill, L' ');
  }
  return text;
}

}  // namespace

format_t::format_t(std::wstring_view format) : m_format(format) {}
format_t::format_t(std::string_view format) : m_format(narrow_text(format)) {}

std::wstring format_t::narrow_text(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = 0xFFFD;
    std::size_t extra = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1F, extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0F, extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07, extra = 3;
    }
    std::size_t taken = 1;
    if (extra != 0) {
      bool ok = true;
      for (std::size_t k = 1; ok && k <= extra; ++k) {
        if (i + k >= utf8.size() || (static_cast<unsigned char>(utf8[i + k]) & 0xC0) != 0x80)
          ok = false;
        else
          cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
      }
      if (ok)
        taken = extra + 1;
      else
        cp = 0xFFFD;
    }
    i += taken;
    if (cp >= 0x10000 && sizeof(wchar_t) == 2) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
  }
  return out;
}

std::wstring format_t::str() const {
  std::wstring out;
  std::size_t next_argument = 0;
  std::size_t i = 0;
  const std::wstring& f = m_format;
  while (i < f.size()) {
    if (f[i] != L'%') {
      out.push_back(f[i++]);
      continue;
    }
    const std::size_t start = i++;
    if (i < f.size() && f[i] == L'%') {
      out.push_back(L'%');
      ++i;
      continue;
    }
    directive_t d;
    while (i < f.size() && is_flag(f[i]))
      d.flags.push_back(static_cast<char>(f[i++]));
    auto read_number = [&](int& into) {
      into = 0;
      while (i < f.size() && f[i] >= L'0' && f[i] <= L'9' && into < 10000)
        into = into * 10 + (f[i++] - L'0');
      while (i < f.size() && f[i] >= L'0' && f[i] <= L'9')
        ++i;
    };
    if (i < f.size() && f[i] >= L'1' && f[i] <= L'9')
      read_number(d.width);
    if (i < f.size() && f[i] == L'.') {
      ++i;
      read_number(d.precision);
    }
    if (i < f.size() && f[i] == L'h') {
      d.length = "h", ++i;
    } else if (i < f.size() && f[i] == L'l') {
      ++i;
      d.length = "l";
      if (i < f.size() && f[i] == L'l')
        d.length = "ll", ++i;
    } else if (i < f.size() && f[i] == L'L') {
      d.length = "L", ++i;
    }
    if (i >= f.size()) {
      out.append(f, start, std::wstring::npos);
      break;
    }
    d.conversion = f[i++];
    const bool known = std::wcschr(L"diouxXcsSeEfgGaAp", d.conversion) != nullptr;
    if (!known || next_argument >= m_arguments.size()) {
      out.append(f, start, i - start);
      continue;
    }
    const argument_t& arg = m_arguments[next_argument++];
    switch (d.conversion) {
      case L'd':
      case L'i':
      case L'o':
      case L'u':
      case L'x':
      case L'X':
        if (const auto* s = std::get_if<std::int64_t>(&arg))
          out += render_number(d, *s, 0, true);
        else if (const auto* u = std::get_if<std::uint64_t>(&arg))
          out += render_number(d, 0, *u, false);
        else if (const auto* p = std::get_if<pointer_t>(&arg))
          out += render_number(d, 0, p->value, false);
        else if (const auto* v = std::get_if<double>(&arg))
          out += render_number(d, static_cast<std::int64_t>(*v), 0, true);
        else
          out += pad(std::get<std::wstring>(arg), d);
        break;
      case L'c':
        if (const auto* s = std::get_if<std::int64_t>(&arg))
          out += pad(std::wstring(1, static_cast<wchar_t>(*s)), d);
        else if (const auto* u = std::get_if<std::uint64_t>(&arg))
          out += pad(std::wstring(1, static_cast<wchar_t>(*u)), d);
        else if (const auto* w = std::get_if<std::wstring>(&arg))
          out += pad(w->substr(0, 1), d);
        break;
      case L's':
      case L'S': {
        // A string directive fed a number shows the number.
        std::wstring text;
        if (const auto* w = std::get_if<std::wstring>(&arg))
          text = *w;
        else if (const auto* s = std::get_if<std::int64_t>(&arg))
          text = std::to_wstring(*s);
        else if (const auto* u = std::get_if<std::uint64_t>(&arg))
          text = std::to_wstring(*u);
        if (d.precision >= 0 && text.size() > static_cast<std::size_t>(d.precision))
          text.resize(static_cast<std::size_t>(d.precision));
        out += pad(text, d);
        break;
      }
      case L'p': {
        char buffer[32];
        std::uintptr_t value = 0;
        if (const auto* p = std::get_if<pointer_t>(&arg))
          value = p->value;
        else if (const auto* u = std::get_if<std::uint64_t>(&arg))
          value = static_cast<std::uintptr_t>(*u);
        std::snprintf(buffer, sizeof buffer, "%0*llX", static_cast<int>(sizeof(void*) * 2),
                      static_cast<unsigned long long>(value));
        out += pad(widen_ascii(buffer), d);
        break;
      }
      default: {  // floating point
        double value = 0;
        if (const auto* v = std::get_if<double>(&arg))
          value = *v;
        else if (const auto* s = std::get_if<std::int64_t>(&arg))
          value = static_cast<double>(*s);
        else if (const auto* u = std::get_if<std::uint64_t>(&arg))
          value = static_cast<double>(*u);
        char buffer[512];
        const std::string directive_text = narrow_spec(d, "", static_cast<char>(d.conversion));
        std::snprintf(buffer, sizeof buffer, directive_text.c_str(), value);
        out += widen_ascii(buffer);
        break;
      }
    }
  }
  return out;
}

}  // namespace tracecore
