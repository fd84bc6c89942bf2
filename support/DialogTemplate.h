// The size in pixels that a dialog template's window will have: its dialog units converted
// with the base units of the template's own font, as the dialog manager converts them.
#pragma once
#include <windows.h>

// S_OK with *pSize filled. HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND) when hInstance
// has no such dialog template, HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND) when it
// cannot be loaded or is malformed.
HRESULT DialogTemplateSize(HINSTANCE hInstance, UINT nTemplateId, SIZE* pSize);
