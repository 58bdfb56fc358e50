// The round-trip samples of the tests register themselves here, so that the seed corpus holds an
// object of every class the program knows.
#include "support/round_trip.h"

namespace KX::test {

std::vector<RoundTripSample>& RoundTripSamples() {
  static std::vector<RoundTripSample> samples;
  return samples;
}

}  // namespace KX::test
