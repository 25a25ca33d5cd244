// The decoder's round trip for as long as the fuzz run allows: seeded
// random INI files, -z, decode, -z, same bytes. Starts at a seed far from
// those of the unit test, so that every run covers new files.
//   roundtrip_img SECONDS [FIRST_SEED]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/img/round_trip.h"

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
  const unsigned long first = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1000000ul;
  const auto start = std::chrono::steady_clock::now();
  unsigned long seed = first;
  for (;; ++seed) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed.count() >= seconds) break;
    const roundtrip::RandomIni ini = roundtrip::Generator(static_cast<uint32_t>(seed)).Make();
    const roundtrip::Outcome outcome = roundtrip::RoundTrip(ini);
    if (!outcome.ok) {
      std::fprintf(stderr, "roundtrip_img: FAILED\n%s\n", outcome.failure.c_str());
      return 1;
    }
  }
  std::printf("roundtrip_img: %lu INI files (seeds %lu to %lu) went round exactly\n", seed - first, first,
              seed - 1);
  return 0;
}
