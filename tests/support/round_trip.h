#pragma once
// The round-trip check every registered class plugs into: an object with non-default fields is
// saved, loaded and saved again, and both files must be identical.
#include <functional>
#include <string>
#include <vector>

#include "object/base.h"
#include "object/container.h"
#include <gtest/gtest.h>

namespace KX::test {

struct RoundTripSample {
  std::string className;
  // Builds a root whose graph holds an object of the class with non-default fields.
  std::function<CRefPtr<CBase>()> make;
};

std::vector<RoundTripSample>& RoundTripSamples();

struct RoundTripRegistrar {
  RoundTripRegistrar(std::string className, std::function<CRefPtr<CBase>()> make) {
    RoundTripSamples().push_back({std::move(className), std::move(make)});
  }
};

// Saves the objects of `context` (roots, thumbnail, extended information) to memory.
std::vector<uint8_t> SaveToBytes(CPersistContext& context, Status* status = nullptr);
std::vector<uint8_t> SaveRootToBytes(CBase* root);
// Gives `context` a small thumbnail and two extended-information records (project data and
// author information): the parts of a file written before its objects.
void AddThumbnailAndExtendedInfo(CPersistContext& context);
// Loads bytes; the status is reported through `status`.
Status LoadFromBytes(const std::vector<uint8_t>& bytes, CPersistContext& context);

// Saves `root`, loads the file, saves it again; adds a test failure when the files differ, the
// load warns, or the class of the root changes. Answers the loaded root.
CRefPtr<CBase> ExpectRoundTrip(CBase* root);

}  // namespace KX::test
