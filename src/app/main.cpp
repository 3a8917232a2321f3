#include <QApplication>
#include <QDir>
#include <csignal>

#include "app/main_window.h"

int main(int argc, char** argv) {
#ifdef SIGXFSZ
    // Past a file-size limit a write should fail with an error the window can
    // show, not kill the program half-way through an output file.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("parevo"));

    parevo::MainWindow form;
    form.show();

    // Files named on the command line ("Open with", a launcher) are added as if
    // dropped. Qt has taken its own options out of the arguments by now.
    form.AddFiles(parevo::CommandLinePaths(QApplication::arguments().mid(1), QDir::currentPath()));

    return QApplication::exec();
}
