// The intro's own operator new and delete, straight over the C runtime's
// heap. The standard library's versions report failure by throwing, and that
// alone brings the whole exception machinery into the executable. Nothing in
// the intro catches: whatever can fail to allocate asks for the nothrow form
// and checks for null, and a plain new that fails ends the process, as an
// uncaught exception would.
#include <cstdlib>
#include <new>

namespace {

void* allocate(std::size_t size) noexcept { return std::malloc(size ? size : 1); }

void* allocate_or_abort(std::size_t size) noexcept {
  void* p = allocate(size);
  if (!p) std::abort();
  return p;
}

}  // namespace

void* operator new(std::size_t size) { return allocate_or_abort(size); }
void* operator new[](std::size_t size) { return allocate_or_abort(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
