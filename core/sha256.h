// SHA-256 (FIPS 180-4), for the fingerprint of an image in the production
// record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* data, size_t size);
  // The digest; the object must not be updated afterwards.
  std::array<uint8_t, 32> Finish();

  // Lower-case hexadecimal digest of a whole buffer.
  static std::string Hex(const uint8_t* data, size_t size);

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes so far
};
