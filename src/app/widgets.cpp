#include "app/widgets.h"

#include <algorithm>

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>

#include "settings/option_controls.h"
#include "trim/trim_point.h"

namespace parevo {

QFont UiFont(const QString& family, int pointSize) {
    QFont font;
    if (QFontDatabase::hasFamily(family)) {
        font = QFont(family);
    } else {
        font = QGuiApplication::font();
    }
    font.setPointSize(pointSize);
    return font;
}

// ---- ByteJumpBox -------------------------------------------------------------

ByteJumpBox::ByteJumpBox(QWidget* parent) : QSpinBox(parent) {
    Beep = [] { QApplication::beep(); };
    setRange(kMinByteJump, kMaxByteJump);
    // The text is read when the field is left, not at every keystroke, so a
    // number being typed is not cut to the range half-way.
    setKeyboardTracking(false);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    lineEdit()->setAcceptDrops(false);  // files dropped here go to the ROM list
    setValue(kDefaultByteJump);
}

bool ByteJumpBox::AllowedCharacter(QChar c) const {
    const QString separator = locale().decimalPoint();
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
           c == QLatin1Char('-') || separator.contains(c);
}

int ByteJumpBox::TypedValue() const {
    return ReadByteJumpText(lineEdit()->text().toStdString());
}

QValidator::State ByteJumpBox::validate(QString& input, int&) const {
    for (const QChar c : input) {
        if (!AllowedCharacter(c)) {
            return QValidator::Invalid;
        }
    }
    return QValidator::Acceptable;
}

int ByteJumpBox::valueFromText(const QString& text) const {
    return ReadByteJumpText(text.toStdString());
}

QString ByteJumpBox::textFromValue(int value) const {
    return QString::number(value);
}

void ByteJumpBox::fixup(QString& input) const {
    input = textFromValue(ClampByteJump(valueFromText(input)));
}

void ByteJumpBox::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    // Editing keys and shortcuts carry control characters or nothing.
    const bool typed = !text.isEmpty() && text.at(0).isPrint() &&
                       !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (typed) {
        for (const QChar c : text) {
            if (!AllowedCharacter(c)) {
                if (Beep) {
                    Beep();
                }
                event->accept();
                return;
            }
        }
    }
    QSpinBox::keyPressEvent(event);
}

void ByteJumpBox::SetNumber(long long value) {
    const int clamped = ClampByteJump(value);
    setValue(clamped);
    if (lineEdit()->text() != textFromValue(clamped)) {
        lineEdit()->setText(textFromValue(clamped));
    }
}

void ByteJumpBox::focusOutEvent(QFocusEvent* event) {
    QSpinBox::focusOutEvent(event);
    // Leaving the field brings what it shows into range, even when nothing was
    // typed since the value was last read.
    SetNumber(TypedValue());
}

// ---- Gauge ------------------------------------------------------------------

Gauge::Gauge(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
    Show();
}

void Gauge::SetMaxValue(int maximum) {
    m_maxValue = maximum;
    Show();
}

void Gauge::SetProgress(int value) {
    m_progress = value;
    Show();
}

void Gauge::Show() {
    const int maximum = std::max(m_maxValue, 0);
    const int value = std::clamp(m_progress, 0, maximum);
    if (maximum == 0) {
        setRange(0, 1);
        setValue(0);
    } else {
        setRange(0, maximum);
        setValue(value);
    }
}

}  // namespace parevo
