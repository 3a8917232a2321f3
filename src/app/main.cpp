#include <QApplication>
#include <QFileInfo>
#include <csignal>

#include "app/trimmer.h"

int main(int argc, char** argv) {
#ifdef SIGXFSZ
    // Past a file-size limit a write should fail with an error the window can
    // show, not kill the program half-way through an output file.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("parevo"));

    parevo::TForm1 form;
    form.show();

    // Files named on the command line ("Open with", a launcher) are added as if
    // dropped. Qt has taken its own options out of argv by now.
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        files << QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath();
    }
    form.FormDropFiles(files);

    return QApplication::exec();
}
