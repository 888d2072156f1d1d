#include "media/heif_props.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace media {

namespace {

// A "meta" box holds item headers only (the pictures live in "mdat"); real
// ones are a few kilobytes, so anything larger is not read.
constexpr uint64_t kMaxMetaBytes = uint64_t{4} << 20;
// Top-level boxes looked at before giving up on finding "meta".
constexpr int kMaxTopLevelBoxes = 64;
// Transform properties of one item that are honoured; real files have one
// rotation and at most one mirror.
constexpr size_t kMaxOps = 8;

uint32_t be16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint64_t be64(const uint8_t* p) { return (uint64_t{be32(p)} << 32) | be32(p + 4); }

struct Box {
  char type[4] = {};
  const uint8_t* body = nullptr;
  size_t size = 0;  // of the body
  bool is(const char* t) const { return std::memcmp(type, t, 4) == 0; }
};

// Walks the boxes laid one after another in a span.
class BoxReader {
 public:
  BoxReader(const uint8_t* data, size_t size) : p_(data), left_(data ? size : 0) {}

  // The next whole box; false at the end or at a box that does not fit.
  bool next(Box* box) {
    if (left_ < 8) return false;
    uint64_t size = be32(p_);
    size_t header = 8;
    if (size == 1) {
      if (left_ < 16) return false;
      size = be64(p_ + 8);
      header = 16;
    } else if (size == 0) {
      size = left_;  // runs to the end
    }
    if (size < header || size > left_) return false;
    std::memcpy(box->type, p_ + 4, 4);
    box->body = p_ + header;
    box->size = static_cast<size_t>(size) - header;
    p_ += size;
    left_ -= static_cast<size_t>(size);
    return true;
  }

 private:
  const uint8_t* p_;
  size_t left_;
};

struct Association {
  uint32_t item = 0;
  std::vector<uint16_t> properties;  // 1-based indices into ipco, in order
};

struct Meta {
  bool hasPrimary = false;
  uint32_t primary = 0;
  std::vector<Box> properties;  // ipco's children
  std::vector<Association> associations;
};

void readPrimary(const Box& pitm, Meta* meta) {
  if (pitm.size < 4) return;
  const uint8_t version = pitm.body[0];
  if (version == 0 && pitm.size >= 6) {
    meta->primary = be16(pitm.body + 4);
    meta->hasPrimary = true;
  } else if (version >= 1 && pitm.size >= 8) {
    meta->primary = be32(pitm.body + 4);
    meta->hasPrimary = true;
  }
}

void readAssociations(const Box& ipma, Meta* meta) {
  if (ipma.size < 8) return;
  const uint8_t version = ipma.body[0];
  const bool wideIndex = (ipma.body[3] & 1) != 0;
  const uint8_t* p = ipma.body + 8;
  const uint8_t* end = ipma.body + ipma.size;
  const uint32_t entries = be32(ipma.body + 4);
  for (uint32_t e = 0; e < entries; ++e) {
    Association a;
    const size_t idBytes = version < 1 ? 2 : 4;
    if (static_cast<size_t>(end - p) < idBytes + 1) return;
    a.item = version < 1 ? be16(p) : be32(p);
    p += idBytes;
    const uint8_t count = *p++;
    const size_t each = wideIndex ? 2 : 1;
    if (static_cast<size_t>(end - p) < count * each) return;
    for (uint8_t i = 0; i < count; ++i, p += each) {
      // The top bit marks an essential property; the rest is the index.
      a.properties.push_back(static_cast<uint16_t>(wideIndex ? be16(p) & 0x7FFF : *p & 0x7F));
    }
    meta->associations.push_back(std::move(a));
  }
}

void readItemProperties(const Box& iprp, Meta* meta) {
  BoxReader children(iprp.body, iprp.size);
  Box child;
  while (children.next(&child)) {
    if (child.is("ipco")) {
      BoxReader props(child.body, child.size);
      Box prop;
      while (props.next(&prop)) meta->properties.push_back(prop);
    } else if (child.is("ipma")) {
      readAssociations(child, meta);
    }
  }
}

std::vector<TransformOp> transformsOf(const Meta& meta) {
  std::vector<TransformOp> ops;
  if (!meta.hasPrimary) return ops;
  for (const Association& a : meta.associations) {
    if (a.item != meta.primary) continue;
    for (const uint16_t index : a.properties) {
      if (index == 0 || index > meta.properties.size() || ops.size() >= kMaxOps) continue;
      const Box& prop = meta.properties[index - 1];
      if (prop.size < 1) continue;
      if (prop.is("irot")) {
        // Quarter turns anticlockwise.
        switch (prop.body[0] & 3) {
          case 1: ops.push_back(TransformOp::RotateCCW); break;
          case 2: ops.push_back(TransformOp::Rotate180); break;
          case 3: ops.push_back(TransformOp::RotateCW); break;
          default: break;
        }
      } else if (prop.is("imir")) {
        // 0 mirrors top to bottom, 1 left to right (as libheif reads it).
        ops.push_back((prop.body[0] & 1) ? TransformOp::FlipH : TransformOp::FlipV);
      }
    }
  }
  return ops;
}

// The body of a "meta" box (a full box: version and flags come first).
std::vector<TransformOp> transformsInMeta(const uint8_t* body, size_t size) {
  if (size < 4) return {};
  Meta meta;
  BoxReader children(body + 4, size - 4);
  Box child;
  while (children.next(&child)) {
    if (child.is("pitm")) {
      readPrimary(child, &meta);
    } else if (child.is("iprp")) {
      readItemProperties(child, &meta);
    }
  }
  return transformsOf(meta);
}

bool readAt(int fd, uint64_t offset, uint8_t* buf, size_t n) {
  size_t have = 0;
  while (have < n) {
    const ssize_t r = ::pread(fd, buf + have, n - have, static_cast<off_t>(offset + have));
    if (r > 0) {
      have += static_cast<size_t>(r);
    } else if (r == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<TransformOp> primaryItemTransformsBytes(const uint8_t* data, size_t size) {
  BoxReader top(data, size);
  Box box;
  for (int i = 0; i < kMaxTopLevelBoxes && top.next(&box); ++i) {
    if (box.is("meta")) return transformsInMeta(box.body, box.size);
  }
  return {};
}

std::vector<TransformOp> primaryItemTransforms(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::vector<TransformOp> ops;
  uint64_t offset = 0;
  for (int i = 0; i < kMaxTopLevelBoxes; ++i) {
    uint8_t head[16];
    if (!readAt(fd, offset, head, 8)) break;
    uint64_t size = be32(head);
    uint64_t header = 8;
    if (size == 1) {
      if (!readAt(fd, offset + 8, head + 8, 8)) break;
      size = be64(head + 8);
      header = 16;
    }
    if (std::memcmp(head + 4, "meta", 4) == 0) {
      if (size == 0 || size < header || size - header > kMaxMetaBytes) break;
      std::vector<uint8_t> body(static_cast<size_t>(size - header));
      if (readAt(fd, offset + header, body.data(), body.size())) {
        ops = transformsInMeta(body.data(), body.size());
      }
      break;
    }
    // A box running to the end of the file ends the walk.
    if (size < header || size > UINT64_MAX - offset) break;
    offset += size;
  }
  ::close(fd);
  return ops;
}

bool swapsSides(const std::vector<TransformOp>& ops) {
  bool swapped = false;
  for (const TransformOp op : ops) {
    if (op == TransformOp::RotateCW || op == TransformOp::RotateCCW) swapped = !swapped;
  }
  return swapped;
}

}  // namespace media
