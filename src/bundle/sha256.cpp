// SHA-256 with a portable block function and an x86 SHA-extensions block function chosen
// once at run time from the CPU's feature bits.

#include "velmora/sha256.hpp"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define VELMORA_SHA_X86 1
#endif

namespace velmora::detail {

namespace {

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline std::uint32_t load_be32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

void compress_portable(std::uint32_t state[8], const unsigned char* blocks, std::size_t count) {
  for (; count > 0; --count, blocks += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = load_be32(blocks + 4 * i);
    for (int i = 16; i < 64; ++i) {
      std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
      std::uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                         kRound[i] + w[i];
      std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

#ifdef VELMORA_SHA_X86

// The SHA extensions keep the state as two registers, ABEF and CDGH; each sha256rnds2 runs
// two rounds, and sha256msg1/msg2 extend the message schedule four words at a time.
__attribute__((target("sha,sse4.1,ssse3"))) void compress_sha_ni(std::uint32_t state[8],
                                                                const unsigned char* blocks,
                                                                std::size_t count) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));      // DCBA
  __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));   // HGFE
  tmp = _mm_shuffle_epi32(tmp, 0xB1);                                               // CDAB
  state1 = _mm_shuffle_epi32(state1, 0x1B);                                         // EFGH
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);                                 // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);                                      // CDGH

  for (; count > 0; --count, blocks += 64) {
    const __m128i save0 = state0;
    const __m128i save1 = state1;
    __m128i msg[4];
    for (int i = 0; i < 4; ++i) {
      msg[i] = _mm_shuffle_epi8(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byte_swap);
    }
    for (int group = 0; group < 16; ++group) {
      __m128i& current = msg[group & 3];
      __m128i k = _mm_add_epi32(
          current, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[4 * group])));
      state1 = _mm_sha256rnds2_epu32(state1, state0, k);
      k = _mm_shuffle_epi32(k, 0x0E);
      state0 = _mm_sha256rnds2_epu32(state0, state1, k);
      // The register after `current` holds words 4(g-3).. (already through msg1) and
      // becomes the next group's words 4(g+1)..; the one before holds 4(g-1).. and starts
      // its own extension towards 4(g+3)...
      __m128i& next = msg[(group + 1) & 3];
      __m128i& previous = msg[(group + 3) & 3];
      if (group >= 3 && group < 15) {
        next = _mm_sha256msg2_epu32(_mm_add_epi32(next, _mm_alignr_epi8(current, previous, 4)),
                                    current);
      }
      if (group >= 1 && group < 13) previous = _mm_sha256msg1_epu32(previous, current);
    }
    state0 = _mm_add_epi32(state0, save0);
    state1 = _mm_add_epi32(state1, save1);
  }

  tmp = _mm_shuffle_epi32(state0, 0x1B);                                   // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xB1);                                // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);                             // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);                                // ABEF -> HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), state1);
}

bool cpu_has_sha_extensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  const bool sse41 = (ecx & (1u << 19)) != 0;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  const bool sha = (ebx & (1u << 29)) != 0;
  return ssse3 && sse41 && sha;
}

#endif

using CompressBlocks = void (*)(std::uint32_t*, const unsigned char*, std::size_t);

CompressBlocks select_compress() {
#ifdef VELMORA_SHA_X86
  if (cpu_has_sha_extensions()) return compress_sha_ni;
#endif
  return compress_portable;
}

// Chosen once; the CPU does not change under a running process.
CompressBlocks compress_blocks() {
  static const CompressBlocks chosen = select_compress();
  return chosen;
}

}  // namespace

void sha256_compress(std::uint32_t state[8], const unsigned char block[64]) {
  compress_blocks()(state, block, 1);
}

Sha256::Sha256() : Sha256(compress_blocks()) {}

Sha256::Sha256(CompressBlocks compress) : compress_(compress) {
  std::memcpy(state_, kInitial, sizeof state_);
}

Sha256 Sha256::portable() { return Sha256(compress_portable); }

void Sha256::update(const void* data, std::size_t size) {
  if (size == 0) return;  // `data` may be null for an empty range
  const auto* bytes = static_cast<const unsigned char*>(data);
  total_ += size;
  if (buffered_ > 0) {
    std::size_t take = std::min(size, sizeof buffer_ - buffered_);
    std::memcpy(buffer_ + buffered_, bytes, take);
    buffered_ += take;
    bytes += take;
    size -= take;
    if (buffered_ < sizeof buffer_) return;
    compress_(state_, buffer_, 1);
    buffered_ = 0;
  }
  std::size_t whole = size / 64;
  if (whole > 0) compress_(state_, bytes, whole);
  bytes += whole * 64;
  size -= whole * 64;
  if (size > 0) std::memcpy(buffer_, bytes, size);
  buffered_ = size;
}

std::string Sha256::finish_hex() {
  const std::uint64_t bit_length = total_ * 8;
  unsigned char tail[128] = {};
  std::memcpy(tail, buffer_, buffered_);
  tail[buffered_] = 0x80;
  const std::size_t tail_size = buffered_ + 9 <= 64 ? 64 : 128;
  for (int i = 0; i < 8; ++i) {
    tail[tail_size - 1 - i] = static_cast<unsigned char>(bit_length >> (8 * i));
  }
  compress_(state_, tail, tail_size / 64);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(64, '0');
  for (int word = 0; word < 8; ++word) {
    for (int nibble = 0; nibble < 8; ++nibble) {
      hex[8 * word + nibble] = kDigits[(state_[word] >> (28 - 4 * nibble)) & 0xF];
    }
  }
  return hex;
}

std::string sha256_hex(const void* data, std::size_t size) {
  Sha256 hash;
  hash.update(data, size);
  return hash.finish_hex();
}

std::string sha256_hex_portable(const void* data, std::size_t size) {
  Sha256 hash = Sha256::portable();
  hash.update(data, size);
  return hash.finish_hex();
}

}  // namespace velmora::detail
