// A library that a test sink imports from its own folder.
extern "C" __declspec(dllexport) int SinkDependency_Answer()
{
    return 42;
}
