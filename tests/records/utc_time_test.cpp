// Times into the records: a log line's time in the one form that sorts as time, and the times
// that no calendar, clock or zone has refused, in a line and in a filter alike.
#include <gtest/gtest.h>

#include "query.h"
#include "utc_time.h"

namespace brenvik::records {
namespace {

TEST(LogTime, IsPutInOneFormOrRefused) {
  const std::pair<const char*, const char*> cases[] = {
      {"2026-12-07T14:30:05.123Z", "2026-12-07T14:30:05.123Z"},  // as the log writes it: unchanged
      {"2026-12-07T14:30:05Z", "2026-12-07T14:30:05.000Z"},
      {"2026-12-07T14:30:05.5Z", "2026-12-07T14:30:05.500Z"},
      {"2026-12-07T14:30:05.123987Z", "2026-12-07T14:30:05.123Z"},  // cut, never carried into the next
      {"2026-12-07T15:30:05.123+01:00", "2026-12-07T14:30:05.123Z"},
      {"2027-01-01T00:30:00-14:00", "2027-01-01T14:30:00.000Z"},
      {"2026-01-01T00:30:00+14:00", "2025-12-31T10:30:00.000Z"},  // into the year before
      {"2028-02-29T00:00:00Z", "2028-02-29T00:00:00.000Z"},
      {"2000-02-29T23:59:59.999Z", "2000-02-29T23:59:59.999Z"},
  };
  for (const auto& [text, stored] : cases) EXPECT_EQ(NormaliseLogTime(text).value_or("none"), stored) << text;
  for (const char* bad :
       {"2026-13-45T99:99:99Z", "2026-02-29T00:00:00Z", "1900-02-29T00:00:00Z", "2026-04-31T00:00:00Z",
        "2026-12-07T24:00:00Z", "2026-12-07T14:60:00Z", "2026-12-07T14:30:60Z", "2026-12-07T14:30:05+14:01",
        "2026-12-07T14:30:05+99:00", "2026-12-07T14:30:05+01:60", "2026-12-07T14:30:05", "2026-12-07T14:30:05.Z",
        "2026-12-07 14:30:05Z", "0000-01-01T00:00:00Z", "0001-01-01T00:00:00+01:00", "2026-12-07T14:30:05ZZ"})
    EXPECT_FALSE(NormaliseLogTime(bad)) << bad;
}

TEST(LogTime, SortsAsTimeOnceStored) {
  // Each later than the one before; as given, the text would put them otherwise.
  const char* inOrder[] = {"2026-12-07T10:00:00Z", "2026-12-07T10:00:00.250Z", "2026-12-07T11:00:00.5+01:00",
                           "2026-12-07T10:00:01Z"};
  std::string before;
  for (const char* text : inOrder) {
    const std::string stored = NormaliseLogTime(text).value();
    EXPECT_LT(before, stored) << text;
    before = stored;
  }
}

TEST(When, ImpossibleFiltersAreRefused) {
  for (const char* bad : {"2026-02-31", "2026-02-29", "2026-12-07T14:00+99:00", "2026-12-07T14:00+14:30",
                          "2026-12-07T14:00+01:75", "2026-13-45T99:99:99Z", "2026-12-07T14:30:60Z"})
    EXPECT_FALSE(ParseWhen(bad, 0)) << bad;
  EXPECT_EQ(ParseWhen("2028-02-29T12:00-14:00", 0).value_or("none"), "2028-03-01T02:00:00.000Z");
}

}  // namespace
}  // namespace brenvik::records
