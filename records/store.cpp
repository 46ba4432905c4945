#include "store.h"

namespace brenvik::records {
namespace {

const char* Operator(Compare compare) {
  switch (compare) {
    case Compare::kEqual: return " = ";
    case Compare::kAtLeast: return " >= ";
    case Compare::kBelow: return " < ";
  }
  return " = ";
}

}  // namespace

SelectStatement BuildSelect(const Query& query, bool numbered) {
  SelectStatement s;
  s.sql = "SELECT ";
  for (size_t i = 0; i < query.columns.size(); ++i) s.sql += std::string(i ? ", " : "") + ColumnName(query.columns[i]);
  s.sql += " FROM runs";
  for (const Condition& c : query.where) {
    s.sql += std::string(s.params.empty() ? " WHERE " : " AND ") + ColumnName(c.column) + Operator(c.compare);
    s.params.push_back(c.value);
    s.sql += numbered ? "$" + std::to_string(s.params.size()) : "?";
  }
  if (query.oldestFirst) s.sql += " ORDER BY time, run_id";
  return s;
}

std::unique_ptr<Store> OpenStore(const DbUrl& url, Access access) {
  return url.kind == DbUrl::Kind::kPostgres ? OpenPostgresStore(url) : OpenSqliteStore(url, access);
}

}  // namespace brenvik::records
