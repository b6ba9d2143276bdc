// An HRESULT as the user reads it.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

// The system's text for the code, else "HRESULT 0x%8.8x".
std::wstring HResultText(HRESULT hr);

}  // namespace ui
