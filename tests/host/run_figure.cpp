// At the end of a run, one figure line: which architecture ran how many cases
// against which counterpart, and how its programs were run (natively or
// under emulation, as the test command found out).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

const char *env_or(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

const char *wine_version()
{
    using Version = const char *(__cdecl *)();
    const auto get = reinterpret_cast<Version>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    return get != nullptr ? get() : "not Wine";
}

class RunFigure : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest &run) override
    {
        std::printf("figure: host tests %s against %s: %d cases, %d passed, %d failed "
                    "(Wine %s, %s)\n",
                    sizeof(void *) == 8 ? "x86_64" : "i686",
                    env_or("TARNWICK_COUNTERPART", "an unnamed counterpart"),
                    run.test_to_run_count(), run.successful_test_count(),
                    run.failed_test_count(), wine_version(), env_or("TARNWICK_RUN", "native"));
        std::fflush(stdout);
    }
};

const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new RunFigure);
    return true;
}();

} // namespace
