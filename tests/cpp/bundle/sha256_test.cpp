// SHA-256 against the FIPS 180-4 examples and against Python's hashlib on random data.

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "velmora/sha256.hpp"

namespace {

using velmora::detail::Sha256;
using velmora::detail::sha256_hex;
using velmora::detail::sha256_hex_portable;

std::string digest(std::string_view text) { return sha256_hex(text.data(), text.size()); }

TEST(Sha256, MatchesTheStandardExamples) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
       "mnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1'000'000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [message, expected] : cases) {
    EXPECT_EQ(digest(message), expected) << "length " << message.size();
    EXPECT_EQ(sha256_hex_portable(message.data(), message.size()), expected);
  }
  EXPECT_EQ(sha256_hex(nullptr, 0), cases[0].second);
}

TEST(Sha256, IncrementalUpdatesMatchOneShot) {
  std::mt19937 random(7);
  std::string data(10'000, '\0');
  for (char& c : data) c = static_cast<char>(random());
  const std::string expected = digest(data);
  for (std::size_t piece : {1u, 3u, 63u, 64u, 65u, 1000u}) {
    Sha256 hash;
    for (std::size_t at = 0; at < data.size(); at += piece) {
      hash.update(data.data() + at, std::min(piece, data.size() - at));
    }
    EXPECT_EQ(hash.finish_hex(), expected) << "pieces of " << piece;
  }
}

TEST(Sha256, CompressFoldsOneBlockIntoTheState) {
  // One padded block of "abc" taken from the initial state gives the digest of "abc".
  std::uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  unsigned char block[64] = {'a', 'b', 'c', 0x80};
  block[63] = 24;
  velmora::detail::sha256_compress(state, block);
  EXPECT_EQ(state[0], 0xba7816bfu);
  EXPECT_EQ(state[7], 0xf20015adu);
}

// Python's hashlib is the reference for random data: every length from 0 to 200 bytes
// (all padding cases, one to four blocks) and a multi-megabyte file of odd length.
TEST(Sha256, AgreesWithHashlibOnRandomData) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("velmora_sha_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::mt19937_64 random(20260101);
  std::string small(200, '\0');
  for (char& c : small) c = static_cast<char>(random());
  std::string large(5 * 1024 * 1024 + 13, '\0');
  for (char& c : large) c = static_cast<char>(random());
  std::ofstream(dir / "small.bin", std::ios::binary) << small;
  std::ofstream(dir / "large.bin", std::ios::binary) << large;

  const std::string command = std::string(VELMORA_PYTHON) +
                              " -c \"import hashlib, sys; d = open(sys.argv[1], 'rb').read(); "
                              "[print(hashlib.sha256(d[:n]).hexdigest()) for n in range(201)]; "
                              "print(hashlib.sha256(open(sys.argv[2], 'rb').read()).hexdigest())\" " +
                              (dir / "small.bin").string() + " " + (dir / "large.bin").string();
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
  ASSERT_EQ(::pclose(pipe), 0);
  std::filesystem::remove_all(dir);

  std::istringstream lines(output);
  std::string expected;
  for (std::size_t length = 0; length <= 200; ++length) {
    ASSERT_TRUE(std::getline(lines, expected));
    EXPECT_EQ(sha256_hex(small.data(), length), expected) << "length " << length;
    EXPECT_EQ(sha256_hex_portable(small.data(), length), expected) << "length " << length;
  }
  ASSERT_TRUE(std::getline(lines, expected));
  EXPECT_EQ(sha256_hex(large.data(), large.size()), expected);
  EXPECT_EQ(sha256_hex_portable(large.data(), large.size()), expected);
}

}  // namespace
