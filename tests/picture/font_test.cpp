#include <gtest/gtest.h>

#include <string>

#include "font/font.h"

namespace {

const xfont& font() {
  static const xfont instance;
  return instance;
}

int setCells(const xfontChar& g) {
  int n = 0;
  for (int i = 0; i < g.width * g.height; ++i) n += g.cell(i) ? 1 : 0;
  return n;
}

bool columnBlank(const xfontChar& g, int j) {
  for (int i = 0; i < g.height; ++i) {
    if (g.cell(j * g.height + i)) return false;
  }
  return true;
}

TEST(Font, EveryCodeHasAGlyphOfTenRowsWithEmptyTopAndBottomRows) {
  int cells = 0;
  for (int code = 0; code <= 122; ++code) {
    const xfontChar* g = font().getChar(static_cast<char>(code));
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->height, 10) << code;
    EXPECT_EQ(g->size(), g->width * 10) << code;
    for (int j = 0; j < g->width; ++j) {
      EXPECT_FALSE(g->cell(j * 10 + 0)) << "row 0 of " << code;
      EXPECT_FALSE(g->cell(j * 10 + 9)) << "row 9 of " << code;
    }
    cells += g->size();
  }
  EXPECT_EQ(cells, 5870);
}

TEST(Font, EmptyGlyphsAreExactlyTheUnshapedCodes) {
  std::string empty;
  for (int code = 0; code <= 122; ++code) {
    const xfontChar* g = font().getChar(static_cast<char>(code));
    if (g->width == 0) {
      if (code > 32) empty += static_cast<char>(code);
    } else {
      EXPECT_GT(setCells(*g), 0) << code;
    }
  }
  EXPECT_EQ(empty, "\"&:=\\_`");
  for (int code = 0; code <= 32; ++code) EXPECT_EQ(font().getChar(static_cast<char>(code))->width, 0);
}

TEST(Font, WidthsAndTheTrailingBlankColumn) {
  const std::pair<char, int> widths[] = {
      {'A', 7}, {'M', 8}, {'N', 8}, {'W', 8}, {'m', 8}, {'w', 8}, {'x', 8}, {'I', 3}, {'i', 3},
      {'l', 4}, {'c', 6}, {'f', 6}, {'j', 6}, {'t', 6}, {'%', 21}, {'>', 26}, {'$', 10}, {'[', 10},
      {']', 10}, {'.', 3}, {'^', 7}};
  for (auto [c, w] : widths) EXPECT_EQ(font().getChar(c)->width, w) << c;

  for (int code = 33; code <= 122; ++code) {
    const xfontChar* g = font().getChar(static_cast<char>(code));
    if (g->width == 0) continue;
    if (code == '^') {
      // The hollow square keeps its blank column on the left instead.
      EXPECT_TRUE(columnBlank(*g, 0));
      EXPECT_FALSE(columnBlank(*g, g->width - 1));
    } else {
      EXPECT_TRUE(columnBlank(*g, g->width - 1)) << code;
    }
  }
}

TEST(Font, CellsAreColumnMajor) {
  const xfontChar* a = font().getChar('A');
  EXPECT_EQ(setCells(*a), 30);
  for (int j = 0; j < 7; ++j) EXPECT_EQ(a->cell(j * 10 + 1), j >= 1 && j <= 4) << j;
  EXPECT_TRUE(columnBlank(*a, 6));
  // Width 7: the last cell is index 69 and nothing lies beyond it.
  EXPECT_EQ(a->size(), 70);
  EXPECT_FALSE(a->cell(70));
  EXPECT_FALSE(a->cell(-1));

  const xfontChar* g = font().getChar('g');
  EXPECT_TRUE(g->cell(1 * 10 + 8));  // the descender

  const xfontChar* stop = font().getChar('.');
  for (int i = 0; i < 30; ++i) EXPECT_EQ(stop->cell(i), i == 6 || i == 7 || i == 16 || i == 17) << i;
}

TEST(Font, CodesWithoutAnEntryGetAnEmptyGlyph) {
  for (int code : {123, 126, 127, -1, -128}) {
    const xfontChar* g = font().getChar(static_cast<char>(code));
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->width, 0);
    EXPECT_EQ(g->height, 10);
    EXPECT_EQ(g->size(), 0);
  }
}

TEST(Font, CommunityLogoSitsInItsFrame) {
  const xfontChar* g = font().getChar('%');
  auto at = [&](int j, int i) { return g->cell(j * 10 + i); };
  for (int j = 0; j < 21; ++j) {
    for (int i = 0; i < 10; ++i) {
      const bool frame = j <= 19 && (((i == 1 || i == 8)) || ((j == 0 || j == 19) && i >= 1 && i <= 8));
      if (frame) {
        EXPECT_TRUE(at(j, i)) << j << "," << i;
      } else if (j < 2 || j > 17 || i < 3 || i > 6) {
        EXPECT_FALSE(at(j, i)) << j << "," << i;  // margins inside the frame
      }
    }
  }
  EXPECT_GT(setCells(*g), 2 * 20 + 2 * 6);  // there is a word inside
}

TEST(Font, SignatureStandsOnItsLine) {
  const xfontChar* g = font().getChar('>');
  auto at = [&](int j, int i) { return g->cell(j * 10 + i); };
  for (int j = 0; j < 26; ++j) {
    EXPECT_EQ(at(j, 7), j <= 24) << j;
    for (int i : {0, 6, 8, 9}) EXPECT_FALSE(at(j, i)) << j << "," << i;
  }
  EXPECT_TRUE(columnBlank(*g, 25));
  // Letters occupy rows 1 to 5 from column 0 to column 24.
  auto letterColumn = [&](int j) {
    for (int i = 1; i <= 5; ++i) {
      if (at(j, i)) return true;
    }
    return false;
  };
  EXPECT_TRUE(letterColumn(0));
  EXPECT_TRUE(letterColumn(24));
}

TEST(FontChar, AppendedCellsStopAtTheGlyphSize) {
  xfontChar g(2, 10);
  for (int i = 0; i < 25; ++i) g.addCell(true);
  EXPECT_EQ(g.size(), 20);
  EXPECT_TRUE(g.cell(19));
  EXPECT_FALSE(g.cell(20));
  xfontChar huge(1000, 1000);  // clamped to the largest glyph
  EXPECT_EQ(huge.width, xfontChar::kMaxWidth);
  EXPECT_EQ(huge.height, xfontChar::kMaxHeight);
}

}  // namespace
