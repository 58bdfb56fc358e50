// What the geometry write helpers list: every stored element under the array's name, padding
// included, and an array the record marks as not stored as absent.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "core/container.h"
#include "core/io_buffer.h"
#include "scene/buffer.h"
#include "scene/tri_mesh.h"
#include "support/bytes.h"

namespace KX {
namespace {

using test::Bytes;

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
std::string Listing(F write, std::vector<uint8_t>* stored = nullptr) {
  CMemoryIo plain, listed;
  CWriter plainOut(plain, 0);
  write(plainOut);
  CFieldTrace trace;
  CWriter listedOut(listed, 0, nullptr, &trace);
  write(listedOut);
  EXPECT_TRUE(plainOut.ok() && listedOut.ok());
  EXPECT_EQ(listedOut.UnlistedBytes(), 0u);
  EXPECT_EQ(plain.bytes(), listed.bytes());
  if (stored) *stored = plain.bytes();
  return trace.text;
}

TEST(FieldListing, PresentArraysListWhatIsStoredUpToTheCount) {
  CIndexBuffer values;
  values.items = {7, 8, 9};
  std::vector<uint8_t> stored;

  // A shorter buffer is padded with zeros: they are elements of the same list.
  EXPECT_EQ(Listing([&](CWriter& out) { WritePresentArray(out, "values", values, 5); }, &stored),
            "values[ 7 8 9 0 0 ]");
  EXPECT_EQ(stored, Bytes().I32(1).U32(7).U32(8).U32(9).U32(0).U32(0).data);

  // Elements beyond the count have no place in the file, nor in the listing.
  EXPECT_EQ(Listing([&](CWriter& out) { WritePresentArray(out, "values", values, 2); }, &stored),
            "values[ 7 8 ]");
  EXPECT_EQ(stored, Bytes().I32(1).U32(7).U32(8).data);

  // Not stored: only the presence word, and the field is listed as absent.
  for (const int64_t count : {int64_t{0}, int64_t{-3}}) {
    EXPECT_EQ(Listing([&](CWriter& out) { WritePresentArray(out, "values", values, count); },
                      &stored),
              "values:absent");
    EXPECT_EQ(stored, Bytes().I32(0).data);
  }
  const CIndexBuffer empty;
  EXPECT_EQ(Listing([&](CWriter& out) { WritePresentArray(out, "values", empty, 4); }),
            "values:absent");

  // Vectors list as elements of three components each.
  CVectorBuffer vectors;
  vectors.items = {{1, 2, 3}};
  EXPECT_EQ(Listing([&](CWriter& out) { WritePresentArray(out, "normals", vectors, 2); }),
            "normals[ [ 1 2 3 ] [ 0 0 0 ] ]");
}

TEST(FieldListing, BitArrayListsItsBitCountAndWords) {
  CBitArray bits(40);
  bits.Set(39);
  std::vector<uint8_t> stored;
  EXPECT_EQ(Listing([&](CWriter& out) { bits.Save(out); }, &stored), "bitCount=40 words[ 0 128 ]");
  EXPECT_EQ(stored, Bytes().I32(40).I32(2).I32(1).U32(0).U32(128).data);

  const CBitArray none;
  EXPECT_EQ(Listing([&](CWriter& out) { none.Save(out); }, &stored), "bitCount=0 words[ ]");
  EXPECT_EQ(stored, Bytes().I32(0).I32(0).I32(0).data);
}

TEST(FieldListing, MeshListsItsChannelsAndExtraVectorsByName) {
  CRefPtr<CTriMesh> mesh(new CTriMesh);
  CRefPtr<CUvwMap> channel(new CUvwMap);
  mesh->mapChannels = {channel, nullptr};
  mesh->extraVectors = {ExtraVector{{1, 2, 3}}};
  CPersistContext context;
  context.saveIds[mesh.get()] = 1;
  context.saveIds[channel.get()] = 2;

  CMemoryIo io;
  CFieldTrace trace;
  CWriter out(io, 0, &context, &trace);
  ASSERT_EQ(mesh->Save(out), kOk);
  EXPECT_EQ(out.UnlistedBytes(), 0u);
  const std::string& text = trace.text;
  const size_t level = text.find("level CTriMesh");
  ASSERT_NE(level, std::string::npos);
  EXPECT_EQ(text.substr(level),
            "level CTriMesh faceCount=0 facePositionIndices:absent faceNormalIndices:absent "
            "faceMapIndices:absent faceTriples4:absent faceValues1:absent faceValues2:absent "
            "mapChannels[ ->2 ->0 ] extraVectors[ { v[ 1 2 3 ] } ]");
}

}  // namespace
}  // namespace KX
