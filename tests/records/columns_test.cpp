// The run's row as columns.h defines it against docs/log-line.schema.json, the log line as it
// is documented for the tools that read a bench's log: the two must name, type and shape
// every field alike.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

#include <nlohmann/json.hpp>

#include "columns.h"
#include "station/result.h"

namespace brenvik::records {
namespace {

using nlohmann::json;

json LogLineSchema() {
  std::ifstream in(BRENVIK_LOG_LINE_SCHEMA);
  return json::parse(in);
}

bool Matches(const json& property, const std::string& text) {
  return std::regex_search(text, std::regex(property.at("pattern").get<std::string>()));
}

TEST(Columns, AreTheFieldsOfTheDocumentedLogLine) {
  const json schema = LogLineSchema();
  const json& properties = schema.at("properties");
  const std::set<std::string> required = schema.at("required").get<std::set<std::string>>();
  EXPECT_EQ(properties.size(), kColumns.size()) << "a field without a column, or a column without a field";

  // A sample of each form the schema must take, and one it must refuse.
  const struct {
    Form form;
    std::string good, bad;
  } samples[] = {
      {Form::kUtcTime, "2026-12-07T14:30:05.123Z", "2026-12-07 14:30:05"},
      {Form::kLowerHex, std::string(64, 'a'), std::string(64, 'A')},
      {Form::kUuid, "0f8fad5b-d9cb-469f-a165-70867728950e", "0f8fad5b-d9cb-469f-a165"},
  };
  for (const ColumnDefinition& c : kColumns) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(properties.contains(c.name));
    const json& p = properties.at(c.name);
    // Present in every line written, but for a name's bytes that only a name that is no UTF-8 has.
    EXPECT_EQ(required.count(c.name) == 1, c.inLog != InLog::kWhereNoUtf8);
    EXPECT_TRUE(!c.required || required.count(c.name)) << "imported lines need what written lines may lack";
    if (c.form == Form::kResult) {
      json words = json::array();
      for (auto r : {station::Result::kSuccess, station::Result::kFailed, station::Result::kStopped})
        words.push_back(station::ResultName(r));
      EXPECT_EQ(p.at("enum"), words);
      continue;
    }
    const char* type = c.kind == ValueKind::kText ? "string" : c.kind == ValueKind::kWhole ? "integer" : "number";
    EXPECT_EQ(p.at("type"), c.inLog == InLog::kOrNull ? json::array({type, "null"}) : json(type));
    for (const auto& s : samples) {
      if (s.form != c.form) continue;
      EXPECT_TRUE(Matches(p, s.good)) << s.good;
      EXPECT_FALSE(Matches(p, s.bad)) << s.bad;
    }
  }
}

}  // namespace
}  // namespace brenvik::records
