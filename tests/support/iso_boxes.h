// iso_boxes: builds ISO-BMFF boxes (MP4, HEIF, AVIF) byte by byte for tests and fuzz seeds of readers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace iso_boxes {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
inline void put32(Bytes& b, uint32_t v) {
  put16(b, v >> 16);
  put16(b, v & 0xFFFF);
}

// A box: 32-bit size, four-letter type, body.
inline Bytes box(const char* type, const Bytes& body) {
  // Written into a vector of the final size: growing one by inserts trips
  // GCC 12's -Wstringop-overread at -O2.
  const uint32_t size = uint32_t(8 + body.size());
  Bytes b(size);
  for (int i = 0; i < 4; ++i) {
    b[size_t(i)] = uint8_t(size >> (24 - 8 * i));
    b[size_t(4 + i)] = uint8_t(type[i]);
  }
  std::copy(body.begin(), body.end(), b.begin() + 8);
  return b;
}

// A full box: version and 24 bits of flags before the body.
inline Bytes fullBox(const char* type, uint8_t version, uint32_t flags, const Bytes& body) {
  Bytes b = {version, uint8_t(flags >> 16), uint8_t(flags >> 8), uint8_t(flags)};
  b.insert(b.end(), body.begin(), body.end());
  return box(type, b);
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// An item's property associations: item id and 1-based property indices.
using Association = std::pair<uint32_t, std::vector<uint16_t>>;

// "ipma" in the given version (0: 16-bit item ids) and flags (1: 15-bit indices).
inline Bytes ipma(const std::vector<Association>& items, uint8_t version = 0, uint32_t flags = 0) {
  Bytes b;
  put32(b, uint32_t(items.size()));
  for (const auto& [item, props] : items) {
    if (version == 0) {
      put16(b, item);
    } else {
      put32(b, item);
    }
    b.push_back(uint8_t(props.size()));
    for (uint16_t p : props) {
      if (flags & 1) {
        put16(b, 0x8000u | p);  // marked essential
      } else {
        b.push_back(uint8_t(0x80u | p));
      }
    }
  }
  return fullBox("ipma", version, flags, b);
}

// An AVIF-like file head: ftyp, then meta with pitm and iprp holding the properties and associations.
inline Bytes heifFile(const std::vector<Bytes>& properties, const Bytes& ipmaBox, uint32_t primary = 1) {
  Bytes ipco;
  for (const Bytes& p : properties) ipco.insert(ipco.end(), p.begin(), p.end());
  Bytes pitmBody;
  put16(pitmBody, primary);
  const Bytes meta = fullBox(
      "meta", 0, 0,
      concat({fullBox("hdlr", 0, 0, Bytes{0, 0, 0, 0, 'p', 'i', 'c', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
              fullBox("pitm", 0, 0, pitmBody), box("iprp", concat({box("ipco", ipco), ipmaBox}))}));
  const Bytes ftyp = box("ftyp", Bytes{'a', 'v', 'i', 'f', 0, 0, 0, 0, 'm', 'i', 'f', '1', 'a', 'v', 'i', 'f'});
  return concat({ftyp, meta, box("mdat", Bytes(16, 0))});
}

inline Bytes irot(uint8_t quarterTurns) { return box("irot", Bytes{quarterTurns}); }
inline Bytes imir(uint8_t mode) { return box("imir", Bytes{mode}); }
inline Bytes ispe(uint32_t w, uint32_t h) {
  Bytes b;
  put32(b, w);
  put32(b, h);
  return fullBox("ispe", 0, 0, b);
}

}  // namespace iso_boxes
