// The text the scroller carries across the screen: plain ASCII from 32 to
// 122, every byte drawn by its own glyph.
#pragma once

extern const char scrollText[];
