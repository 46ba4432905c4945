// Small icons made at run time, so the gallery needs no resource files.
#pragma once

#include <windows.h>

namespace brenvik::gallery {

// A 16x16 handset: dark blue with a light screen, or all in greys when `disabled`.
HICON MakeHandsetIcon(bool disabled);

}  // namespace brenvik::gallery
