#pragma once
// JSON text written as it is produced, so that listing a scene of millions of vertices needs no
// memory for a document tree. Objects put one member per line; lists stay on one line unless
// they hold objects, which then start on lines of their own.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace KX::cli {

class CJsonWriter {
 public:
  explicit CJsonWriter(std::FILE* out) : out_(out) {}

  void BeginObject();
  void EndObject();
  void BeginList();
  void EndList();
  // The name of the next member of the open object.
  void Key(std::string_view name);

  void Integer(int64_t value);
  void Unsigned(uint64_t value);
  // Finite numbers only; the shortest decimal that reads back as `value`.
  void Number(double value);
  void Boolean(bool value);
  void Null();
  // UTF-8 text; bytes that are not UTF-8 are written as U+FFFD.
  void String(std::string_view utf8);

  // How many objects and lists are open.
  size_t Depth() const { return open_.size(); }
  // Closes what is open above `depth`.
  void CloseTo(size_t depth);

 private:
  struct Frame {
    bool list = false;
    size_t count = 0;
    bool multiline = false;  // a list that holds objects
  };

  void BeforeValue(bool isObject);
  void Indent(size_t depth);
  void Put(std::string_view text) { std::fwrite(text.data(), 1, text.size(), out_); }
  void Put(char c) { std::fputc(c, out_); }

  std::FILE* out_;
  std::vector<Frame> open_;
};

// Length of the well-formed UTF-8 sequence at the start of `text`, 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF are not).
size_t Utf8SequenceLength(std::string_view text);

// `text` as a JSON string literal, quotes included.
std::string JsonQuoted(std::string_view utf8);

}  // namespace KX::cli
