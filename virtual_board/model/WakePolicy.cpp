// WakePolicy.cpp - the lateness estimate and the poll window (see
// WakePolicy.h).
#include "WakePolicy.h"

#include <algorithm>
#include <cstring>

namespace vb {
namespace model {

namespace {
constexpr const char* kModeNames[] = {"auto", "on", "off"};
}  // namespace

bool parsePollMode(const char* text, PollMode& mode) {
    if (text == nullptr) return false;
    for (int i = 0; i < 3; ++i) {
        if (std::strcmp(text, kModeNames[i]) == 0) {
            mode = static_cast<PollMode>(i);
            return true;
        }
    }
    return false;
}

const char* pollModeName(PollMode mode) { return kModeNames[static_cast<int>(mode)]; }

// Only the PL thread reports sleeps; the others read the estimate.
void WakeLatency::slept(int64_t lateNs) {
    const int64_t was = m_lateNs.load(std::memory_order_relaxed);
    const int64_t decayed = was - (was >> kDecayShift);
    m_lateNs.store(std::max<int64_t>(decayed, std::min(lateNs, kMaxWindowNs)), std::memory_order_relaxed);
}

int64_t WakeLatency::windowNs(int64_t periodNs) const {
    switch (mode()) {
    case PollMode::Off: return 0;
    case PollMode::On: return kMaxWindowNs;
    case PollMode::Auto: break;
    }
    const int64_t late = lateNs();
    if (late <= 0 || periodNs >= kEngageFactor * late) return 0;
    return std::min(kEngageFactor * late, kMaxWindowNs);
}

}  // namespace model
}  // namespace vb
