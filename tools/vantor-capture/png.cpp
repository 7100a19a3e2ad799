#include "png.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kMaxStoredBlock = 65535;

const std::array<std::uint32_t, 256>& crcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

void putBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t getBe32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

void putChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
  putBe32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  putBe32(out, crc32(out.data() + start, out.size() - start));
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
  const auto& table = crcTable();
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

std::uint32_t adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler) {
  std::uint32_t a = adler & 0xFFFFu, b = adler >> 16;
  for (std::size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521u;
    b = (b + a) % 65521u;
  }
  return (b << 16) | a;
}

bool writePng(const std::string& path, const RgbImage& image) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
    return false;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
  std::vector<std::uint8_t> raw;
  raw.reserve((rowBytes + 1) * image.height);
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);  // no filter
    const auto row = image.pixels.begin() + static_cast<std::ptrdiff_t>(rowBytes * y);
    raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
  }

  std::vector<std::uint8_t> zlib = {0x78, 0x01};
  std::size_t pos = 0;
  bool last = false;
  while (!last) {
    const std::size_t len = std::min(kMaxStoredBlock, raw.size() - pos);
    last = pos + len == raw.size();
    zlib.push_back(last ? 1 : 0);  // stored block, final flag
    zlib.push_back(static_cast<std::uint8_t>(len));
    zlib.push_back(static_cast<std::uint8_t>(len >> 8));
    zlib.push_back(static_cast<std::uint8_t>(~len));
    zlib.push_back(static_cast<std::uint8_t>(~len >> 8));
    zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                raw.begin() + static_cast<std::ptrdiff_t>(pos + len));
    pos += len;
  }
  putBe32(zlib, adler32(raw.data(), raw.size()));

  std::vector<std::uint8_t> header;
  putBe32(header, static_cast<std::uint32_t>(image.width));
  putBe32(header, static_cast<std::uint32_t>(image.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filter 0, no interlace

  std::vector<std::uint8_t> file(std::begin(kSignature), std::end(kSignature));
  putChunk(file, "IHDR", header);
  putChunk(file, "IDAT", zlib);
  putChunk(file, "IEND", {});

  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return static_cast<bool>(out);
}

bool readPng(const std::string& path, RgbImage& image) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) return false;

  std::vector<std::uint8_t> zlib;
  std::uint32_t width = 0, height = 0;
  bool haveHeader = false, ended = false;
  for (std::size_t pos = 8; !ended;) {
    if (file.size() - pos < 12) return false;
    const std::uint32_t len = getBe32(&file[pos]);
    if (len > file.size() - pos - 12) return false;
    const std::uint8_t* type = &file[pos + 4];
    const std::uint8_t* data = type + 4;
    if (crc32(type, len + 4) != getBe32(data + len)) return false;
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (len != 13 || data[8] != 8 || data[9] != 2 || data[10] != 0 || data[11] != 0 || data[12] != 0) return false;
      width = getBe32(data);
      height = getBe32(data + 4);
      haveHeader = true;
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      zlib.insert(zlib.end(), data, data + len);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      ended = true;
    }
    pos += 12 + static_cast<std::size_t>(len);
  }
  if (!haveHeader || width == 0 || height == 0 || width > 1u << 14 || height > 1u << 14) return false;

  // Stored blocks only: each is a header byte, LEN, NLEN and LEN bytes.
  if (zlib.size() < 6 || zlib[0] != 0x78) return false;
  std::vector<std::uint8_t> raw;
  std::size_t pos = 2;
  for (bool last = false; !last;) {
    if (zlib.size() - pos < 5) return false;
    const std::uint8_t head = zlib[pos];
    if ((head & 0x06) != 0) return false;  // compressed block: not ours
    last = (head & 1) != 0;
    const std::size_t len = zlib[pos + 1] | (zlib[pos + 2] << 8);
    const std::size_t nlen = zlib[pos + 3] | (zlib[pos + 4] << 8);
    if ((len ^ 0xFFFFu) != nlen || zlib.size() - pos - 5 < len) return false;
    raw.insert(raw.end(), zlib.begin() + static_cast<std::ptrdiff_t>(pos + 5),
               zlib.begin() + static_cast<std::ptrdiff_t>(pos + 5 + len));
    pos += 5 + len;
  }
  if (zlib.size() - pos < 4 || getBe32(&zlib[pos]) != adler32(raw.data(), raw.size())) return false;

  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  if (raw.size() != (rowBytes + 1) * height) return false;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.pixels.clear();
  image.pixels.reserve(rowBytes * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    const auto row = raw.begin() + static_cast<std::ptrdiff_t>((rowBytes + 1) * y);
    if (*row != 0) return false;
    image.pixels.insert(image.pixels.end(), row + 1, row + 1 + static_cast<std::ptrdiff_t>(rowBytes));
  }
  return true;
}
