// The account of one session: summary.json for machines, one paragraph for people.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "expected_image.h"
#include "faults.h"
#include "recorder.h"
#include "session.h"

namespace brenvik::handset {

struct SessionReport {
  int number = 1;  // of the session in the run, from 1
  bool autoUpgrade = true;
  const Session& session;
  const SessionRecorder& recorder;
  const FaultPlan& plan;
  const FaultLog& log;
  const ExpectedImage* expected = nullptr;  // only with a reference image
  std::string outputError;                  // writing the files failed
  std::string note;                         // anything else worth telling (a missing end command)

  // The download went as it should on the link: complete, no protocol error, files written.
  // Only then can the next session follow on the same link.
  bool Sound() const { return session.Complete() && !session.Failed() && outputError.empty(); }
  // Sound, and what arrived equals the reference when there is one.
  bool Ok() const { return Sound() && (!expected || expected->Matches(session.Complete())); }
};

// Every field of summary.json but the record list, which can be long.
nlohmann::json SummaryJson(const SessionReport& report);
std::string HumanSummary(const SessionReport& report);
// summary.json: the fields and the record list, streamed entry by entry so that a long list
// costs no memory. Written whole or not at all: a reader never sees half a summary.
bool WriteSummary(const std::string& path, const SessionReport& report, std::string& error);

}  // namespace brenvik::handset
