// What an AM_MEDIA_TYPE record owns in the platform's task memory: its format block and a
// reference in pUnk. The dumps release the records the platform hands them with these;
// the framework's media-type helpers build on them.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <strmif.h>

// Frees the format block and releases pUnk; the record itself stays, without them.
inline void MediaTypeFreeContents(AM_MEDIA_TYPE* pmt)
{
    if (pmt->pbFormat != nullptr)
        CoTaskMemFree(pmt->pbFormat);
    pmt->pbFormat = nullptr;
    pmt->cbFormat = 0;
    if (pmt->pUnk != nullptr)
        pmt->pUnk->Release();
    pmt->pUnk = nullptr;
}

// Frees a record handed out in task memory, with what it owns; null does nothing.
inline void MediaTypeFree(AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
        return;
    MediaTypeFreeContents(pmt);
    CoTaskMemFree(pmt);
}
