// GoogleTest main for widget tests: one QApplication on the offscreen platform.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // An OK writes the journal of changes: into a folder of this run, never the user's.
    char state[] = "/tmp/vantoro-ui-test-XXXXXX";
    if (!::mkdtemp(state))
        return 1;
    ::setenv("XDG_STATE_HOME", state, 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(state, ignored);
    return status;
}
