// Captured bytes read field by field, each read checking its own bounds.
//
// A frame's header fields are read through a BoundedReader rather than a raw
// pointer, so that a short or lying frame cannot be read past its captured
// end even when the arithmetic that chose an offset is wrong: a field that
// does not lie wholly within the bytes is reported missing and reads nothing.
// Multi-byte fields are big-endian (network order). Inline and branch-light:
// it sits on the data path, once per captured frame.
#ifndef TILLWIRE_CAPTURE_BOUNDED_READER_H
#define TILLWIRE_CAPTURE_BOUNDED_READER_H

#include <cstdint>

namespace tillwire {

class BoundedReader {
 public:
  BoundedReader(const unsigned char* bytes, std::uint32_t size) : bytes(bytes), size(size) {}

  std::uint32_t Size() const { return size; }

  // True when count bytes from offset on lie within the bytes (no overflow).
  bool Holds(std::uint32_t offset, std::uint32_t count) const {
    return offset <= size && count <= size - offset;
  }

  // Each read stores the field and returns true, or returns false and stores
  // nothing when the field does not lie within the bytes.
  bool Read8(std::uint32_t offset, std::uint8_t* value) const {
    if (!Holds(offset, 1)) return false;
    *value = bytes[offset];
    return true;
  }
  bool Read16(std::uint32_t offset, std::uint16_t* value) const {
    if (!Holds(offset, 2)) return false;
    *value = static_cast<std::uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
    return true;
  }
  bool Read32(std::uint32_t offset, std::uint32_t* value) const {
    if (!Holds(offset, 4)) return false;
    *value = (std::uint32_t{bytes[offset]} << 24) | (std::uint32_t{bytes[offset + 1]} << 16) |
             (std::uint32_t{bytes[offset + 2]} << 8) | bytes[offset + 3];
    return true;
  }

  // The bytes from offset to the end, or none (null, 0 bytes) when offset
  // lies at or past the end.
  BoundedReader From(std::uint32_t offset) const {
    return offset < size ? BoundedReader(bytes + offset, size - offset) : BoundedReader(nullptr, 0);
  }

  // Where the bytes begin; for handing a checked range on (a payload).
  const unsigned char* Data() const { return bytes; }

 private:
  const unsigned char* bytes;
  std::uint32_t size;
};

}  // namespace tillwire

#endif
