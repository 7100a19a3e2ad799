// Running out of memory while the content is built: every allocation made
// through the non-throwing operator new fails in turn, and the builders must
// report it without crashing or leaking.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "scroller/intro_content.h"
#include "scroller/random.h"
#include "scroller/scroller.h"

namespace {
long allocationsLeft = -1;  // negative: never fail

void* allocate(std::size_t size) {
  if (allocationsLeft == 0) return nullptr;
  if (allocationsLeft > 0) --allocationsLeft;
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }

namespace {

TEST(OutOfMemory, ScrollerReportsEveryFailedAllocation) {
  xpalette* palette = new xpalette;  // one palette for every attempt
  ASSERT_TRUE(palette->ok());
  const char* text = "Hi $";
  // The scroller, its font, the pointer array and one object per character.
  for (long fail = 0; fail <= 7; ++fail) {
    seedRandom(1);
    allocationsLeft = fail;
    xscroller* s = new (std::nothrow) xscroller(text, palette, 1.0f, 1.0f, 1.0f);
    allocationsLeft = -1;
    if (fail == 0) {
      EXPECT_EQ(s, nullptr);
      continue;
    }
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->ok(), fail == 7) << "failing allocation " << fail;
    delete s;
  }
  delete palette;
}

TEST(OutOfMemory, IntroContentLeavesNothingBehind) {
  for (long fail : {0L, 1L, 2L, 3L, 100L}) {
    seedRandom(kIntroSeed);
    IntroContent content;
    allocationsLeft = fail;
    const bool built = createIntroContent(content);
    allocationsLeft = -1;
    EXPECT_FALSE(built) << fail;
    EXPECT_EQ(content.palette, nullptr);
    EXPECT_EQ(content.scroller, nullptr);
  }
  seedRandom(kIntroSeed);
  IntroContent content;
  ASSERT_TRUE(createIntroContent(content));
  destroyIntroContent(content);
}

}  // namespace
