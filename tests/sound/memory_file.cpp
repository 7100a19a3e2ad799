#include "memory_file.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "music/xm_file.h"

namespace soundtest {
namespace {

struct OpenFile {
  const std::vector<std::uint8_t>* bytes;
  std::int64_t position;
};

std::map<std::string, std::vector<std::uint8_t>>& files() {
  static std::map<std::string, std::vector<std::uint8_t>> all;
  return all;
}

void* open_file(const char* name) {
  auto it = files().find(name);
  return it == files().end() ? nullptr : new OpenFile{&it->second, 0};
}

void close_file(void* handle) { delete static_cast<OpenFile*>(handle); }

uint32_t read_file(void* destination, uint32_t size, void* handle) {
  auto* f = static_cast<OpenFile*>(handle);
  const auto total = static_cast<std::int64_t>(f->bytes->size());
  const std::int64_t available = std::clamp<std::int64_t>(total - f->position, 0, size);
  if (available > 0) std::memcpy(destination, f->bytes->data() + f->position, static_cast<std::size_t>(available));
  f->position += available;
  return static_cast<uint32_t>(available);
}

void seek_file(void* handle, int32_t offset, int32_t origin) {
  auto* f = static_cast<OpenFile*>(handle);
  f->position = std::max<std::int64_t>(0, (origin == 1 ? f->position : 0) + offset);
}

int32_t tell_file(void* handle) { return static_cast<int32_t>(static_cast<OpenFile*>(handle)->position); }

}  // namespace

void serve_file(const std::string& name, std::vector<std::uint8_t> bytes) {
  files()[name] = std::move(bytes);
  xm_set_file_callbacks(open_file, close_file, read_file, seek_file, tell_file);
}

}  // namespace soundtest
