#include "app/rom_info_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/qt_prompter.h"

namespace parevo {

namespace {

// The value labels are named after their keys ("game_code"), so that tests and
// the accessibility tree find them.
QString FieldName(const std::string& key) {
    QString name = QString::fromStdString(key);
    name.replace(QLatin1Char(' '), QLatin1Char('_'));
    return name;
}

QWidget* MakePart(const RomInfoPart& part) {
    auto* box = new QGroupBox(FromNarrow(part.heading));
    auto* form = new QFormLayout(box);
    form->setLabelAlignment(Qt::AlignLeft);
    if (!part.error.empty()) {
        auto* error = new QLabel(FromNarrow(part.error));
        error->setObjectName(QStringLiteral("error"));
        error->setWordWrap(true);
        error->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(error);
        return box;
    }
    for (const auto& [key, value] : part.fields) {
        auto* label = new QLabel(FromNarrow(value));
        label->setObjectName(FieldName(key));
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        form->addRow(QString::fromStdString(key) + QLatin1Char(':'), label);
    }
    return box;
}

}  // namespace

RomInfoDialog::RomInfoDialog(const QString& fileName, const std::vector<RomInfoPart>& parts,
                             QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("RomInfoDialog"));
    setWindowTitle(QStringLiteral("ROM information - ") + fileName);
    auto* layout = new QVBoxLayout(this);
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    for (const RomInfoPart& part : parts) {
        column->addWidget(MakePart(part));
    }
    if (parts.size() > 1) {
        // An archive may hold many images: they scroll, the buttons stay.
        auto* scroll = new QScrollArea;
        scroll->setWidget(content);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setMinimumWidth(content->sizeHint().width() + 24);
        layout->addWidget(scroll);
    } else {
        layout->addWidget(content);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

}  // namespace parevo
