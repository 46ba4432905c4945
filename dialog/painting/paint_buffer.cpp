// The off-screen buffer the box-like painters compose in, copied to the window in one blit.
#include "painting/control_surface.h"

namespace brenvik {
namespace {

SIZE WindowAreaSize(HWND window) {
  RECT r{};
  if (!::IsWindow(window) || !::GetWindowRect(window, &r)) return {0, 0};
  return {r.right - r.left, r.bottom - r.top};
}

}  // namespace

namespace painting {

HDC BeginBufferOn(PaintBuffer& buffer, int width, int height) {
  buffer.memoryDC = ::CreateCompatibleDC(buffer.windowDC);
  ::SetBkMode(buffer.memoryDC, TRANSPARENT);
  HBITMAP bitmap = ::CreateCompatibleBitmap(buffer.windowDC, width, height);
  buffer.savedBitmap = static_cast<HBITMAP>(::SelectObject(buffer.memoryDC, bitmap));
  // A bitmap that never got into the DC would be freed by nobody.
  if (!buffer.savedBitmap && bitmap) ::DeleteObject(bitmap);
  if (buffer.copy == 1)
    ::BitBlt(buffer.memoryDC, 0, 0, width, height, buffer.windowDC, 0, 0, SRCCOPY);
  return buffer.memoryDC;
}

void EndBufferOn(PaintBuffer& buffer, int width, int height) {
  if (buffer.copy == 1)
    ::BitBlt(buffer.windowDC, 0, 0, width, height, buffer.memoryDC, 0, 0, SRCCOPY);
  if (buffer.savedBitmap)
    ::DeleteObject(::SelectObject(buffer.memoryDC, buffer.savedBitmap));
  ::DeleteDC(buffer.memoryDC);
}

}  // namespace painting

// A handle that is no window gets a buffer of no size and no window DC: GetWindowDC(NULL)
// would hand out the whole screen.
HDC BeginPaintBuffer(PaintBuffer* buffer) {
  if (!buffer) return nullptr;
  SIZE size = WindowAreaSize(buffer->window);
  buffer->windowDC = ::IsWindow(buffer->window) ? ::GetWindowDC(buffer->window) : nullptr;
  return painting::BeginBufferOn(*buffer, size.cx, size.cy);
}

void EndPaintBuffer(PaintBuffer* buffer) {
  if (!buffer) return;
  SIZE size = WindowAreaSize(buffer->window);
  painting::EndBufferOn(*buffer, size.cx, size.cy);
  if (buffer->windowDC) ::ReleaseDC(buffer->window, buffer->windowDC);
}

}  // namespace brenvik
