// What a station tells its line of the records' database: when runs start waiting, at most
// once a minute while it lasts, once when they are in again; and the board's header, whose
// count of waiting runs is the last thing a narrow terminal cuts.
#include <gtest/gtest.h>

#include "progress_text.h"
#include "records_notice.h"
#include "text/display_width.h"

namespace brenvik::cli {
namespace {

using namespace std::chrono_literals;

TEST(RecordsNotices, TellTheTroubleAtOnceThenAtMostOnceAMinuteAndItsEnd) {
  struct Step {
    std::chrono::seconds at;
    RecordsState state;
    const char* told;  // "": nothing; "waiting" or "in"
  };
  const Step steps[] = {
      {0s, {1, true, ""}, ""},                      // a run on its way: no trouble
      {1s, {1, true, "refused"}, "waiting"},        // the first failed attempt
      {30s, {4, true, "refused"}, ""},              // still: not within the minute
      {61s, {5, true, "refused"}, "waiting"},       // a minute on
      {70s, {0, true, ""}, "in"},                   // all in again, said at once
      {80s, {1, true, "refused"}, ""},              // back again within the minute: held
      {130s, {1, true, "refused"}, "waiting"},
      {140s, {0, false, "refused"}, ""},            // the log's catch-up still to go
      {150s, {0, false, ""}, ""},                   // read, not yet through
      {151s, {0, true, ""}, "in"},
      {300s, {0, true, ""}, ""},
      {301s, {0, false, "refused"}, "waiting"},     // a restart whose catch-up fails
  };
  RecordsNotices notices;
  const auto start = RecordsNotices::Clock::time_point{};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.at.count());
    const auto notice = notices.Update(s.state, start + s.at);
    EXPECT_EQ(notice ? (notice->in ? "in" : "waiting") : "", std::string(s.told));
    if (notice && !notice->in) {
      EXPECT_EQ(notice->state.waiting, s.state.waiting);
    }
  }
}

TEST(StationHeader, TheWaitingRunsAreTheLastToGiveWay) {
  BoardRow header;
  header.plain = true;
  header.text = "/var/lib/brenvik/images/handset-2026-12-07-release-candidate.img  3f2a9c0b1d4e  done 12  failed 1  "
                "flashing 3  240 per hour";
  header.tail = "1234 waiting for the database";
  for (const size_t width : {200u, 80u, 40u, 31u}) {
    SCOPED_TRACE(width);
    const std::string line = FitRow(header, width);
    EXPECT_LE(text::DisplayWidth(line), width);
    EXPECT_EQ(line.substr(line.size() - header.tail.size()), header.tail);
  }
  EXPECT_EQ(FitRow(header, 200).substr(0, header.text.size()), header.text);
  EXPECT_EQ(FitRow(header, 20), "1234 waiting for the");  // narrower than the count itself
}

}  // namespace
}  // namespace brenvik::cli
