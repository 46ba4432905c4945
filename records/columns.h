// The run's row, defined once. Each column's entry says all that the rest of the program
// knows of it: its name (in the table, the log line and find's JSON), its SQL type, the kind
// of JSON value it is, how the log line carries it, whether a line without it is a run, how
// long and what its text must look like. The schema's steps, the log line's parser, the PostgreSQL
// casts, find's columns and JSON, and the log line's names all read this table.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace brenvik::records {

enum Column : size_t {
  kRunId, kStation, kTime, kImage, kImageBytes, kSize, kSha256, kKind, kDevice, kDeviceBytes,
  kUsbPort, kUsbSerial, kBytesSent, kSeconds, kAverageRate, kResult, kCause, kColumnCount
};

enum class SqlType { kText, kInteger, kBigint, kDouble };
// The JSON value: a text, a whole number that fits a signed 64-bit BIGINT, any number.
enum class ValueKind { kText, kWhole, kNumber };
enum class InLog {
  kAlways,       // every line written has it
  kOrNull,       // null where it is not known
  kWhereNoUtf8,  // only beside a name that is no UTF-8: the name's bytes in hex
};
// What the text must look like, beyond its kind.
enum class Form { kAny, kUtcTime, kLowerHex, kUuid, kResult };

struct ColumnDefinition {
  const char* name;
  SqlType sql;
  ValueKind kind;
  InLog inLog;
  bool required;  // a line without it is no run; NOT NULL in the table
  // A text's most bytes: a longer one is no run of this program's, and every database takes
  // what is within. Numbers are held to their SQL type's range instead.
  size_t maxBytes = 0;
  Form form = Form::kAny;
  bool primaryKey = false;
  int since = 1;  // the schema's version that added it
};

extern const std::array<ColumnDefinition, kColumnCount> kColumns;

inline const char* ColumnName(size_t column) { return kColumns[column].name; }

// One value of a row: the text the database is given as a bound parameter, nothing for NULL.
using Row = std::array<std::optional<std::string>, kColumnCount>;

}  // namespace brenvik::records
