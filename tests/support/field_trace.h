#pragma once
// A field sink that writes what a Save lists as one line of text, and a runner that checks that
// listing a save does not change its bytes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "object/fields.h"
#include "core/io_buffer.h"
#include "object/persist.h"

namespace KX::test {

// Writes the listing as one line of text: `name=value`, `name[ ... ]`, `name{ ... }`,
// `name->id`, `name:bytes(size)`, `name:absent`.
class CFieldTrace final : public CFieldSink {
 public:
  std::string text;

  void Level(const CRuntimeClass& cls) override {
    Put(nullptr, "", std::string("level ") + cls.className);
  }
  void Integer(const char* name, int64_t value) override { Put(name, "=", Format(value)); }
  void Unsigned(const char* name, uint64_t value) override { Put(name, "=", Format(value)); }
  void Number(const char* name, double value) override { Put(name, "=", Format(value)); }
  void Boolean(const char* name, bool value) override { Put(name, "=", value ? "true" : "false"); }
  void Text(const char* name, std::string_view utf8) override { Put(name, "=", std::string(utf8)); }
  void Reference(const char* name, int32_t id) override { Put(name, "", "->" + Format(id)); }
  void Bytes(const char* name, std::span<const uint8_t> bytes) override {
    Put(name, ":", "bytes(" + Format(bytes.size()) + ")");
  }
  void Absent(const char* name) override { Put(name, ":", "absent"); }
  void BeginList(const char* name) override { Put(name, "", "["); }
  void EndList() override { Put(nullptr, "", "]"); }
  void BeginRecord(const char* name) override { Put(name, "", "{"); }
  void EndRecord() override { Put(nullptr, "", "}"); }

 private:
  template <class T>
  static std::string Format(T value) {
    std::ostringstream s;
    s << value;
    return s.str();
  }
  void Put(const char* name, const char* joint, const std::string& value) {
    if (!text.empty()) text += ' ';
    if (name) text += std::string(name) + joint;
    text += value;
  }
};

// Runs `write` without and with a listing; both must store the same bytes.
template <class F>
std::string Listing(F write, std::vector<uint8_t>* stored = nullptr,
                    CPersistContext* context = nullptr) {
  CMemoryIo plain, listed;
  CWriter plainOut(plain, 0, context);
  write(plainOut);
  CFieldTrace trace;
  CWriter listedOut(listed, 0, context, &trace);
  write(listedOut);
  EXPECT_TRUE(plainOut.ok() && listedOut.ok());
  EXPECT_EQ(listedOut.UnlistedBytes(), 0u);
  EXPECT_EQ(plain.bytes(), listed.bytes());
  if (stored) *stored = plain.bytes();
  return trace.text;
}

}  // namespace KX::test
