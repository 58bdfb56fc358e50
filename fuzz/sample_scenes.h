#pragma once
// Small scenes built from every registered class, saved to bytes: seeds for the fuzzer.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace KX::fuzz {

std::vector<std::pair<std::string, std::vector<uint8_t>>> SampleScenes();

}  // namespace KX::fuzz
