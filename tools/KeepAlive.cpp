// Stays idle under Wine for the length of a test run. Started first with its output
// sent nowhere, it owns the Wine system processes (services, device drivers) that the
// first program of a session starts, so that they do not inherit and hold open the
// output pipes of the test programs that CTest reads.
#include <windows.h>

int main()
{
    Sleep(INFINITE);
    return 0;
}
