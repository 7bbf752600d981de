// Loaded into the packaged vantoro-config with LD_PRELOAD by the package test,
// never installed. Once the sheet is up and its modal loop runs, it closes the
// sheet as the window's close box does, so the test sees whether the program
// then exits 0. The program itself has no hook for this.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

void CloseTheSheetOnceShown()
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll] {
        QWidget* sheet = QApplication::activeModalWidget();
        if (!sheet || !sheet->isVisible() || sheet->windowTitle() != QLatin1String("Vantoro Config"))
            return;
        poll->stop();
        std::fprintf(stderr, "close-sheet: closing \"%s\"\n", qPrintable(sheet->windowTitle()));
        sheet->close();
    });
    poll->start(100);
}

} // namespace

// Runs when the program constructs its QApplication.
Q_COREAPP_STARTUP_FUNCTION(CloseTheSheetOnceShown)
