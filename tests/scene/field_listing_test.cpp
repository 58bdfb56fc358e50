// What the geometry write helpers list: every stored element under the array's name, padding
// included, and an array the record marks as not stored as absent.
#include <gtest/gtest.h>

#include <string>

#include "object/container.h"
#include "core/io_buffer.h"
#include "scene/buffer.h"
#include "scene/tri_mesh.h"
#include "support/bytes.h"
#include "support/field_trace.h"

namespace KX {
namespace {

using test::Bytes;
using test::CFieldTrace;
using test::Listing;

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
  CBitArray bits;
  ASSERT_EQ(bits.Resize(40), kOk);
  bits.Set(39);
  std::vector<uint8_t> stored;
  EXPECT_EQ(Listing([&](CWriter& out) { EXPECT_TRUE(::KX::Succeeded(bits.Save(out))); }, &stored), "bitCount=40 words[ 0 128 ]");
  EXPECT_EQ(stored, Bytes().I32(40).I32(2).I32(1).U32(0).U32(128).data);

  const CBitArray none;
  EXPECT_EQ(Listing([&](CWriter& out) { EXPECT_TRUE(::KX::Succeeded(none.Save(out))); }, &stored), "bitCount=0 words[ ]");
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
