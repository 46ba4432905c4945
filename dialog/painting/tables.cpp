// The painters' constant tables.
#include "painting/flat_control.h"

namespace brenvik {

// The surface the controls sit on.
const COLORREF g_flatBackground = 0xFFFFFF;

// Corner colours: top-left, top-right, bottom-left, bottom-right.
const COLORREF g_flatGradients[8][4] = {
    {0xA5B2B5, 0xCED7D6, 0xCED7D6, 0xDEEFF7},  // check box, pressed
    {0xCEF3FF, 0x63CBFF, 0x63CBFF, 0x31B2FF},  // check box, hot
    {0xD6DFDE, 0xEFF3F7, 0xEFF3F7, 0xFFFFFF},  // check box, normal
    {0xA5B2B5, 0xCED7D6, 0xCED7D6, 0xDEEFF7},  // radio button, pressed
    {0xCEF3FF, 0x63CBFF, 0x63CBFF, 0x31B2FF},  // radio button, hot
    {0xD6DFDE, 0xEFF3F7, 0xEFF3F7, 0xFFFFFF},  // unused
    {0x21A221, 0x21A221, 0x187A18, 0x187A18},  // radio button, checked dot
    {0xFFEBE7, 0xF7CBAD, 0xFF350B, 0xF7CBAD},  // unused
};

const FlatPainter g_flatPainters[5] = {
    PaintPushButton, PaintCheckBox, PaintRadioButton, PaintGroupBox, PaintStaticText,
};

const char g_flatClassNames[7][32] = {
    "Button", "Edit", "ComboBox", "ListBox", "ScrollBar", "Static", "#32770",
};

}  // namespace brenvik
