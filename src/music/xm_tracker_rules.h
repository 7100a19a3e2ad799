// The rules of the tracker that defined the XM format, where they differ
// from this player's own (xm_rules.h): songs written in it sound as their
// composers heard them. The intro never plays by them; the library and the
// tools link them.
#pragma once

#include "music/xm_rules.h"

extern const XmRules xmTrackerRules;
