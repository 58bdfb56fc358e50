#include "app/cli/json_writer.h"

#include <charconv>

namespace KX::cli {

size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

std::string JsonQuoted(std::string_view utf8) {
  std::string text = "\"";
  text.reserve(utf8.size() + 2);
  while (!utf8.empty()) {
    const unsigned char c = static_cast<unsigned char>(utf8[0]);
    size_t used = 1;
    switch (c) {
      case '"':
        text += "\\\"";
        break;
      case '\\':
        text += "\\\\";
        break;
      case '\n':
        text += "\\n";
        break;
      case '\r':
        text += "\\r";
        break;
      case '\t':
        text += "\\t";
        break;
      case '\b':
        text += "\\b";
        break;
      case '\f':
        text += "\\f";
        break;
      default:
        if (c < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          text += "\\u00";
          text += kHex[c >> 4];
          text += kHex[c & 15];
        } else if (const size_t length = Utf8SequenceLength(utf8); length > 0) {
          text.append(utf8.substr(0, length));
          used = length;
        } else {
          text += "\xEF\xBF\xBD";  // U+FFFD for a byte that starts no character
        }
    }
    utf8.remove_prefix(used);
  }
  text += '"';
  return text;
}

void CJsonWriter::Indent(size_t depth) {
  Put('\n');
  for (size_t i = 0; i < depth; ++i) Put("  ");
}

void CJsonWriter::BeforeValue(bool isObject) {
  if (open_.empty()) return;
  Frame& frame = open_.back();
  if (!frame.list) return;  // Key wrote what comes before a member
  if (frame.count++ > 0) Put(isObject ? "," : ", ");
  if (isObject) {
    frame.multiline = true;
    Indent(open_.size());
  }
}

void CJsonWriter::Key(std::string_view name) {
  if (open_.empty() || open_.back().list) return;
  Frame& frame = open_.back();
  if (frame.count++ > 0) Put(',');
  Indent(open_.size());
  Put(JsonQuoted(name));
  Put(": ");
}

void CJsonWriter::BeginObject() {
  BeforeValue(true);
  Put('{');
  open_.push_back({false, 0, false});
}

void CJsonWriter::EndObject() {
  if (open_.empty() || open_.back().list) return;
  const bool empty = open_.back().count == 0;
  open_.pop_back();
  if (!empty) Indent(open_.size());
  Put('}');
}

void CJsonWriter::BeginList() {
  BeforeValue(false);
  Put('[');
  open_.push_back({true, 0, false});
}

void CJsonWriter::EndList() {
  if (open_.empty() || !open_.back().list) return;
  const bool multiline = open_.back().multiline;
  open_.pop_back();
  if (multiline) Indent(open_.size());
  Put(']');
}

void CJsonWriter::CloseTo(size_t depth) {
  while (open_.size() > depth) open_.back().list ? EndList() : EndObject();
}

void CJsonWriter::Integer(int64_t value) {
  BeforeValue(false);
  char text[24];
  Put(std::string_view(text, std::to_chars(text, text + sizeof text, value).ptr - text));
}

void CJsonWriter::Unsigned(uint64_t value) {
  BeforeValue(false);
  char text[24];
  Put(std::string_view(text, std::to_chars(text, text + sizeof text, value).ptr - text));
}

void CJsonWriter::Number(double value) {
  BeforeValue(false);
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  Put(result.ec == std::errc() ? std::string_view(text, result.ptr - text) : "null");
}

void CJsonWriter::Boolean(bool value) {
  BeforeValue(false);
  Put(value ? "true" : "false");
}

void CJsonWriter::Null() {
  BeforeValue(false);
  Put("null");
}

void CJsonWriter::String(std::string_view utf8) {
  BeforeValue(false);
  Put(JsonQuoted(utf8));
}

}  // namespace KX::cli
