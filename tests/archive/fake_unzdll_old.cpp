// An unzip library too old for the component: the entry points are there, the
// version is 150.
#include <cstdint>

#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

FAKE_EXPORT std::int32_t GetUnzDllVersion() {
    return 150;
}

FAKE_EXPORT std::int32_t UnzDllExec(void*) {
    return 0;
}
