// A wide buffer with a fenced tail: tests hand out the first cch characters and check
// that nothing was written behind them.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

class CGuardedBuffer
{
public:
    static const WCHAR FENCE = 0xFDFD;

    explicit CGuardedBuffer(int cch) : m_cch(cch), m_chars(size_t(cch) + 16, FENCE) {}
    LPWSTR Get() { return m_chars.data(); }
    int Size() const { return m_cch; }
    // True when every character behind the handed-out part is still the fence.
    bool FenceIntact() const
    {
        for (size_t i = size_t(m_cch); i < m_chars.size(); ++i)
            if (m_chars[i] != FENCE)
                return false;
        return true;
    }
    // Whether the handed-out part was left entirely alone.
    bool Untouched() const
    {
        for (WCHAR ch : m_chars)
            if (ch != FENCE)
                return false;
        return true;
    }
    std::wstring Text() const { return std::wstring(m_chars.data()); }

private:
    int m_cch;
    std::vector<WCHAR> m_chars;
};
