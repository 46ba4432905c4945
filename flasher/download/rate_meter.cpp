#include "download/rate_meter.h"

#include <chrono>

namespace brenvik {
namespace {
constexpr double kSampleSpacing = 0.1;
}

double RateMeter::SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void RateMeter::Update(uint64_t sent, uint64_t total) {
  const double now = m_clock();
  if (!m_started) {
    m_started = true;
    m_start = now;
    m_last = now;
    m_samples.push_back({now, sent});
  }
  if (sent > m_sent) m_last = now;
  m_sent = sent;
  m_total = total;
  if (now - m_samples.back().at >= kSampleSpacing) m_samples.push_back({now, sent});
  // One sample at or before the window's start stays: it anchors the whole window.
  while (m_samples.size() > 2 && m_samples[1].at <= now - kWindowSeconds) m_samples.pop_front();
}

std::optional<double> RateMeter::Rate() const {
  if (!m_started) return std::nullopt;
  const double now = m_clock();
  if (now - m_start < kFirstSeconds) return std::nullopt;
  // The newest sample at or before the window's start; the oldest when the run is younger.
  const Sample* anchor = &m_samples.front();
  for (const Sample& s : m_samples) {
    if (s.at > now - kWindowSeconds) break;
    anchor = &s;
  }
  const double span = now - anchor->at;
  if (span <= 0 || m_sent < anchor->bytes) return std::nullopt;
  return double(m_sent - anchor->bytes) / span;
}

std::optional<double> RateMeter::SecondsLeft() const {
  if (m_started && m_sent >= m_total) return 0.0;
  const std::optional<double> rate = Rate();
  if (!rate || *rate <= 0) return std::nullopt;
  return double(m_total - m_sent) / *rate;
}

std::optional<double> RateMeter::AverageRate() const {
  if (!m_started) return std::nullopt;
  const double span = m_last - m_start;
  if (span <= 0) return std::nullopt;
  return double(m_sent) / span;
}

}  // namespace brenvik
