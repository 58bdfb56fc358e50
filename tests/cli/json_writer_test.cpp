// The streaming JSON writer behind `recaster info --json`: what it writes must parse, texts
// must survive whatever bytes a file stored, and the layout must stay readable.
#include "app/cli/json_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

namespace KX::cli {
namespace {

std::string Written(void (*write)(CJsonWriter&)) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = ::open_memstream(&text, &size);
  {
    CJsonWriter json(out);
    write(json);
  }
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

TEST(JsonWriter, TextsAreEscapedAndBadBytesReplaced) {
  EXPECT_EQ(JsonQuoted("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
  EXPECT_EQ(JsonQuoted("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"), "\"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\"");
  // A stray continuation byte, a cut-off sequence, an overlong form and an encoded surrogate.
  EXPECT_EQ(JsonQuoted("\x80"), "\"\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonQuoted("x\xE2\x82"), "\"x\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonQuoted("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonQuoted("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
  const auto parsed = nlohmann::json::parse(JsonQuoted(std::string("\0\xFF z", 4)));
  EXPECT_EQ(parsed.get<std::string>(), std::string("\0\xEF\xBF\xBD z", 6));
}

TEST(JsonWriter, ObjectsOneMemberPerLineListsInline) {
  const std::string text = Written([](CJsonWriter& json) {
    json.BeginObject();
    json.Key("n");
    json.Number(0.1);
    json.Key("list");
    json.BeginList();
    json.Integer(-1);
    json.Unsigned(18446744073709551615u);
    json.Boolean(true);
    json.Null();
    json.EndList();
    json.Key("records");
    json.BeginList();
    json.BeginObject();
    json.Key("a");
    json.String("x");
    json.EndObject();
    json.BeginObject();
    json.EndObject();
    json.EndList();
    json.Key("open");
    json.BeginObject();
    json.Key("deep");
    json.BeginList();
    json.CloseTo(0);  // closes everything still open
  });
  EXPECT_EQ(text,
            "{\n"
            "  \"n\": 0.1,\n"
            "  \"list\": [-1, 18446744073709551615, true, null],\n"
            "  \"records\": [\n"
            "    {\n"
            "      \"a\": \"x\"\n"
            "    },\n"
            "    {}\n"
            "  ],\n"
            "  \"open\": {\n"
            "    \"deep\": []\n"
            "  }\n"
            "}");
  EXPECT_TRUE(nlohmann::json::accept(text));
}

}  // namespace
}  // namespace KX::cli
