#include "limits/billing.h"

#include <algorithm>

namespace brimvale {

LimitWindow CursorBilling::monthlyWindow() const {
  return LimitWindow{"7d", "Cursor Monthly", std::clamp(usedPercent / 100.0, 0.0, 1.0), periodEnd,
                     fetchedAt};
}

double GrokBilling::fraction() const { return std::clamp(usedPercent / 100.0, 0.0, 1.0); }

LimitWindow GrokBilling::weeklyWindow() const {
  return LimitWindow{"7d", "Grok Weekly", fraction(), periodEnd, fetchedAt};
}

}  // namespace brimvale
