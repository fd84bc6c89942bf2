// A host that loads the trace probe beside it and says whether the probe's module took the
// log sink: exit code 0 with a sink, 1 without one, 2 when the probe does not load.
#include <windows.h>

#include <string>

int wmain()
{
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring dir(szPath);
    dir.resize(dir.find_last_of(L'\\') + 1);
    HMODULE hProbe = LoadLibraryW((dir + L"traceprobe.dll").c_str());
    if (hProbe == nullptr)
        return 2;
    auto pfnHasSink = reinterpret_cast<BOOL (*)()>(GetProcAddress(hProbe, "Probe_HasSink"));
    return pfnHasSink != nullptr && pfnHasSink() ? 0 : 1;
}
