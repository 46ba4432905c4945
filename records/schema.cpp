#include "schema.h"

namespace brenvik::records {

// A new version is a new step at the end of this list, never a change to one before it: a
// database at version 1 runs only step 2 (ALTER TABLE runs ADD COLUMN ..., a new index), and
// SchemaVersion() grows by one. Both dialects take the same step.
int SchemaVersion() { return 1; }

std::vector<std::string> SchemaStep(Dialect dialect, int from) {
  if (from != 0) return {};
  // Text in PostgreSQL compares byte by byte ("C"), as in SQLite: the prefix searches are
  // ranges on an index, and the same in both.
  const std::string text = dialect == Dialect::kPostgres ? "TEXT COLLATE \"C\"" : "TEXT";
  return {
      "CREATE TABLE runs ("
      " run_id " + text + " PRIMARY KEY,"
      " station " + text + ","
      " time " + text + " NOT NULL,"  // UTC, ISO 8601, as the log writes it: sorts as time
      " image " + text + " NOT NULL,"
      " image_bytes " + text + ","    // the path's bytes in hex where it is no UTF-8
      " size BIGINT,"
      " sha256 " + text + ","
      " kind INTEGER,"
      " device " + text + ","
      " device_bytes " + text + ","
      " usb_port " + text + ","
      " usb_serial " + text + ","
      " bytes_sent BIGINT,"
      " seconds DOUBLE PRECISION,"
      " average_rate BIGINT,"
      " result " + text + " NOT NULL,"
      " cause " + text + ")",
      "CREATE INDEX runs_time ON runs (time)",
      "CREATE INDEX runs_usb_serial ON runs (usb_serial)",
      "CREATE INDEX runs_sha256 ON runs (sha256)",
      "CREATE INDEX runs_image ON runs (image)",
      "CREATE INDEX runs_station_time ON runs (station, time)",
      "CREATE INDEX runs_device ON runs (device)",
      "CREATE INDEX runs_usb_port ON runs (usb_port)",
  };
}

}  // namespace brenvik::records

#include "store.h"

namespace brenvik::records {

void Migrate(Dialect dialect, const std::function<void(const std::string&)>& exec, const std::function<int()>& version) {
  exec(std::string("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY, applied ") +
       (dialect == Dialect::kPostgres ? "TEXT COLLATE \"C\"" : "TEXT") + " NOT NULL)");
  int at = version();
  if (at > SchemaVersion())
    throw StoreError("the database's records are of version " + std::to_string(at) +
                     ", newer than this brenvik-cli knows (" + std::to_string(SchemaVersion()) +
                     "): use a newer brenvik-cli");
  for (; at < SchemaVersion(); ++at) {
    for (const std::string& statement : SchemaStep(dialect, at)) exec(statement);
    exec("INSERT INTO schema_version (version, applied) VALUES (" + std::to_string(at + 1) +
         ", " + (dialect == Dialect::kPostgres ? "to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')"
                                                 : "strftime('%Y-%m-%dT%H:%M:%SZ', 'now')") + ")");
  }
}

}  // namespace brenvik::records
