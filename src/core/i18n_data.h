// i18n_data: the built-in translation catalogue, one row per interface
// language. The tables are generated at build time from the data files in
// src/core/i18n/ (see the README there); this header only declares them.
#pragma once

#include <cstdint>

namespace i18n_data {

// One key and its text (UTF-8).
struct Entry {
  const char* key;
  const char* text;
};

// One language: its names, writing direction and texts. Every row holds the
// same keys in the same order (byte-wise ascending), no text is empty, and
// every text carries exactly the placeholders of its English text.
struct Catalog {
  const char* code;         // lower case; "zh_TW" is the only one with a region
  const char* nativeName;   // the language's name in itself
  const char* englishName;
  bool rtl;                 // written right to left
  const Entry* entries;     // the first of count pairs
  int32_t count;
};

inline constexpr int kCatalogCount = 44;
extern const Catalog kCatalogs[kCatalogCount];

}  // namespace i18n_data
