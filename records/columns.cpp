#include "columns.h"

namespace brenvik::records {

// A new column is a new entry at the end, with `since` the schema's next version: the schema,
// the parser, the stores and find take it from here.
const std::array<ColumnDefinition, kColumnCount> kColumns = {{
    {"run_id", SqlType::kText, ValueKind::kText, InLog::kAlways, false, Form::kUuid, true},
    {"station", SqlType::kText, ValueKind::kText, InLog::kOrNull, false},
    {"time", SqlType::kText, ValueKind::kText, InLog::kAlways, true, Form::kUtcTime},  // sorts as time
    {"image", SqlType::kText, ValueKind::kText, InLog::kAlways, true},
    {"image_bytes", SqlType::kText, ValueKind::kText, InLog::kWhereNoUtf8, false, Form::kLowerHex},
    {"size", SqlType::kBigint, ValueKind::kWhole, InLog::kAlways, false},
    {"sha256", SqlType::kText, ValueKind::kText, InLog::kOrNull, false, Form::kLowerHex},
    {"kind", SqlType::kInteger, ValueKind::kWhole, InLog::kAlways, false},
    {"device", SqlType::kText, ValueKind::kText, InLog::kAlways, false},
    {"device_bytes", SqlType::kText, ValueKind::kText, InLog::kWhereNoUtf8, false, Form::kLowerHex},
    {"usb_port", SqlType::kText, ValueKind::kText, InLog::kOrNull, false},
    {"usb_serial", SqlType::kText, ValueKind::kText, InLog::kOrNull, false},
    {"bytes_sent", SqlType::kBigint, ValueKind::kWhole, InLog::kAlways, false},
    {"seconds", SqlType::kDouble, ValueKind::kNumber, InLog::kAlways, false},
    {"average_rate", SqlType::kBigint, ValueKind::kWhole, InLog::kOrNull, false},
    {"result", SqlType::kText, ValueKind::kText, InLog::kAlways, true, Form::kResult},
    {"cause", SqlType::kText, ValueKind::kText, InLog::kOrNull, false},
}};

}  // namespace brenvik::records
