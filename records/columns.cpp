#include "columns.h"

namespace brenvik::records {

// A new column is a new entry at the end, with `since` the schema's next version: the schema,
// the parser, the stores and find take it from here.
// Paths are within PATH_MAX (Windows' MAX_PATH far below it), a name's bytes twice that as
// hex; host names, USB serials (126 UTF-16 units at most) and port paths are short; a cause
// is a message.
constexpr size_t kPathBytes = 4096, kNameBytes = 255, kSerialBytes = 1024, kCauseBytes = 65536;

const std::array<ColumnDefinition, kColumnCount> kColumns = {{
    {"run_id", SqlType::kText, ValueKind::kText, InLog::kAlways, false, 36, Form::kUuid, true},
    {"station", SqlType::kText, ValueKind::kText, InLog::kOrNull, false, kNameBytes},
    // One form, UTC to the millisecond: the text sorts as the time does.
    {"time", SqlType::kText, ValueKind::kText, InLog::kAlways, true, 64, Form::kUtcTime},
    {"image", SqlType::kText, ValueKind::kText, InLog::kAlways, true, kPathBytes},
    {"image_bytes", SqlType::kText, ValueKind::kText, InLog::kWhereNoUtf8, false, 2 * kPathBytes, Form::kLowerHex},
    {"size", SqlType::kBigint, ValueKind::kWhole, InLog::kAlways, false},
    {"sha256", SqlType::kText, ValueKind::kText, InLog::kOrNull, false, 64, Form::kLowerHex},
    {"kind", SqlType::kInteger, ValueKind::kWhole, InLog::kAlways, false},
    {"device", SqlType::kText, ValueKind::kText, InLog::kAlways, false, kPathBytes},
    {"device_bytes", SqlType::kText, ValueKind::kText, InLog::kWhereNoUtf8, false, 2 * kPathBytes, Form::kLowerHex},
    {"usb_port", SqlType::kText, ValueKind::kText, InLog::kOrNull, false, kNameBytes},
    {"usb_serial", SqlType::kText, ValueKind::kText, InLog::kOrNull, false, kSerialBytes},
    {"bytes_sent", SqlType::kBigint, ValueKind::kWhole, InLog::kAlways, false},
    {"seconds", SqlType::kDouble, ValueKind::kNumber, InLog::kAlways, false},
    {"average_rate", SqlType::kBigint, ValueKind::kWhole, InLog::kOrNull, false},
    {"result", SqlType::kText, ValueKind::kText, InLog::kAlways, true, 16, Form::kResult},
    {"cause", SqlType::kText, ValueKind::kText, InLog::kOrNull, false, kCauseBytes},
}};

}  // namespace brenvik::records
