#include "music/xm_tracker_rules.h"

const XmRules xmTrackerRules = xmPlayerRules;
