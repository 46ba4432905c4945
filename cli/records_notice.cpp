#include "records_notice.h"

namespace brenvik::cli {

std::optional<RecordsNotice> RecordsNotices::Update(const RecordsState& state, Clock::time_point now) {
  const bool pending = state.waiting > 0 || !state.caughtUp;
  // A run waits a moment for every insert: only a failed attempt makes it trouble.
  if (pending && !state.error.empty()) {
    if (m_lastSaid && now - *m_lastSaid < kQuiet) return std::nullopt;
    m_told = true;
    m_lastSaid = now;
    return RecordsNotice{false, state};
  }
  if (!pending && m_told) {
    m_told = false;
    m_lastSaid = now;
    return RecordsNotice{true, state};
  }
  return std::nullopt;
}

}  // namespace brenvik::cli
