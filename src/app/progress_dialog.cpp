#include "app/progress_dialog.h"

#include <algorithm>

#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "app/qt_prompter.h"

namespace parevo {

namespace {

constexpr int kClientWidth = 300;
constexpr int kClientHeight = 100;

int Centred(int width) {
    return (kClientWidth - width) / 2;
}

}  // namespace

ProgressDialogWidget::ProgressDialogWidget(const QString& caption, std::function<void()> onCancel,
                                           QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("ProgressForm"));
    setWindowTitle(caption);
    setFixedSize(kClientWidth, kClientHeight);

    m_label = new QLabel(QStringLiteral("wait ..."), this);
    m_label->setObjectName(QStringLiteral("Label"));
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_label->setGeometry(Centred(280), 15, 280, 13);

    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("ProgressBar"));
    m_bar->setGeometry(Centred(280), 35, 280, 17);
    m_bar->setTextVisible(false);
    m_bar->setAccessibleName(QStringLiteral("Extraction progress"));

    m_cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("CancelButton"));
    m_cancel->setGeometry(Centred(75), 60, 75, 25);
    m_cancel->setDefault(true);
    connect(m_cancel, &QPushButton::clicked, this, [onCancel = std::move(onCancel)] {
        if (onCancel) {
            onCancel();
        }
    });

    // Over the main window, else in the middle of the screen's work area.
    const QRect area = owner != nullptr && owner->isVisible()
                           ? owner->frameGeometry()
                           : QGuiApplication::primaryScreen()->availableGeometry();
    move(area.center() - rect().center());
}

QtProgressDialog::QtProgressDialog(const QString& caption, std::function<void()> onCancel,
                                   QWidget* owner)
    : m_dialog(new ProgressDialogWidget(caption, std::move(onCancel), owner)) {}

QtProgressDialog::~QtProgressDialog() {
    delete m_dialog;
}

void QtProgressDialog::Show() {
    m_dialog->show();
}

void QtProgressDialog::Hide() {
    m_dialog->hide();
}

void QtProgressDialog::SetLabel(const std::string& text) {
    m_dialog->Label()->setText(FromNarrow(text));
}

void QtProgressDialog::SetBarMax(int maximum) {
    m_dialog->Bar()->setRange(0, std::max(maximum, 1));
}

void QtProgressDialog::SetBarPosition(int position) {
    m_dialog->Bar()->setValue(position);
}

ProgressDialogFactory QtProgressDialogFactory(const QString& caption, QWidget* owner) {
    QPointer<QWidget> guardedOwner(owner);
    return [caption, guardedOwner](std::function<void()> onCancel) {
        return std::make_unique<QtProgressDialog>(caption, std::move(onCancel),
                                                  guardedOwner.data());
    };
}

}  // namespace parevo
