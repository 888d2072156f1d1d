// test-labels: threads
#include "core/save_crypt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::kSealHeaderSize;
using platform::saveDecrypt;
using platform::saveEncrypt;

std::string fromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// Sealed by an earlier build. If this stops opening, every user's settings file would be set aside as tampered with at
// the next start: the key material, the cipher or the layout changed.
const char kGoldenHex[] =
    "4b52564c01c4f206598484e77899913476c3edfd315badc82ea154ca40257c653a06d2d453947a5600e7be"
    "b99a67aeef3a3c22e6b17405f4c209fc3170529cb4fe7dac9877873ad9f38d9ddad5663f";
const char kGoldenPlain[] = "{\"jpegQuality\":80,\"language\":\"de\"}";

// Two seals of one text differ (fresh nonce) and both open; empty and large texts too.
TEST(SaveCrypt, SealsOpenAndDifferEachTime) {
  const std::string plain = "{\"language\":\"fr\"}";
  const std::string a = saveEncrypt(plain);
  const std::string b = saveEncrypt(plain);
  ASSERT_EQ(a.size(), kSealHeaderSize + plain.size());
  EXPECT_EQ(a.substr(0, 5), std::string("KRVL\x01"));
  EXPECT_EQ(a.find("language"), std::string::npos);  // really encrypted
  EXPECT_NE(a.substr(5, 24), b.substr(5, 24));       // nonce
  EXPECT_NE(a.substr(kSealHeaderSize), b.substr(kSealHeaderSize));
  EXPECT_EQ(saveDecrypt(a, nullptr), platform::kUnsealOk);

  std::string large;
  for (int i = 0; i < 1 << 20; ++i) large.push_back(static_cast<char>(i * 31 + (i >> 8)));
  for (const std::string& text : {plain, std::string(), large}) {
    const std::string sealed = text == plain ? b : saveEncrypt(text);
    EXPECT_EQ(sealed.size(), kSealHeaderSize + text.size());
    std::string out = "stale";
    EXPECT_EQ(saveDecrypt(sealed, &out), platform::kUnsealOk) << text.size();
    EXPECT_EQ(out, text);
  }
}

TEST(SaveCrypt, OpensASealFromAnEarlierBuild) {
  std::string out;
  ASSERT_EQ(saveDecrypt(fromHex(kGoldenHex), &out), platform::kUnsealOk);
  EXPECT_EQ(out, kGoldenPlain);
}

// Byte 4, the version, lies outside the authenticated data: only the explicit
// check refuses another version under a valid tag.
TEST(SaveCrypt, FlippedBitsTruncationsAndExtensionsBreakTheSeal) {
  const std::string sealed = saveEncrypt("{\"lastOpenDir\":\"/home/user/Bilder\"}");
  std::vector<std::string> damaged{sealed + "x"};
  for (size_t i = 0; i < sealed.size(); ++i) {
    if (i > 0) damaged.push_back(sealed.substr(0, i));
    for (unsigned char mask : {0x01, 0x80}) {
      damaged.push_back(sealed);
      damaged.back()[i] = static_cast<char>(sealed[i] ^ mask);
    }
  }
  for (const std::string& bad : damaged) {
    std::string out = "stale";
    EXPECT_EQ(saveDecrypt(bad, &out), platform::kUnsealBroken) << "case " << (&bad - damaged.data());
    EXPECT_EQ(out, "") << "case " << (&bad - damaged.data());
  }
  std::string out = "stale";
  EXPECT_EQ(saveDecrypt("", &out), platform::kUnsealEmpty);
  EXPECT_EQ(out, "");
}

TEST(SaveCrypt, SealsAndOpensFromManyThreadsAtOnce) {
  // The first use initialises the crypto library; racing first uses must be safe.
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 50; ++i) {
        std::string plain = "{\"thread\":" + std::to_string(t) + ",\"i\":" + std::to_string(i) + "}";
        std::string out;
        if (saveDecrypt(saveEncrypt(plain), &out) != platform::kUnsealOk || out != plain) {
          failures.fetch_add(1);
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
