// SHA-256 against the standard test vectors.
#include <gtest/gtest.h>

#include <string>

#include "driver/sha256.h"

namespace {

std::string hex(const std::string& s) {
  char out[65];
  sha256_hex(s.data(), s.size(), out);
  return out;
}

TEST(Sha256, StandardVectors) {
  struct Case {
    std::string in;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
       "mnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // Lengths around the padding boundary.
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
  };
  for (const Case& c : cases) EXPECT_EQ(hex(c.in), c.digest) << c.in.size() << " bytes";
}

TEST(Sha256, PiecewiseEqualsWhole) {
  std::string text;
  for (int i = 0; i < 1000; i++) text += static_cast<char>(i * 31 + 7);
  for (size_t step : {1u, 3u, 63u, 64u, 65u, 200u}) {
    Sha256 s;
    sha256_init(&s);
    for (size_t at = 0; at < text.size(); at += step) sha256_update(&s, text.data() + at, std::min(step, text.size() - at));
    uint8_t d[32];
    sha256_final(&s, d);
    char h[65];
    for (int i = 0; i < 32; i++) std::snprintf(h + 2 * i, 3, "%02x", d[i]);
    EXPECT_EQ(std::string(h), hex(text)) << "step " << step;
  }
}

}  // namespace
