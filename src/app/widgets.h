#pragma once
// The window's controls that Qt does not have as they are needed: the byte jump
// field, a gauge that can count 0 of 0, and the font rule.

#include <QProgressBar>
#include <QSpinBox>
#include <functional>

namespace parevo {

// The named font at `pointSize`; where the system lacks it, the desktop's
// default UI font at that size, so that metrics stay close to the layout.
QFont UiFont(const QString& family, int pointSize);

// Numeric field 1..2000 with up and down arrows. Typing accepts digits, the
// signs and the decimal separator and refuses anything else with a beep. A typed
// number stays as typed until the field loses the focus (or Enter, or an arrow),
// then it is brought into range; a text that is no number reads as 1.
class ByteJumpBox : public QSpinBox {
    Q_OBJECT
  public:
    explicit ByteJumpBox(QWidget* parent = nullptr);

    // The field's text as a number, not yet brought into range.
    int TypedValue() const;
    // Sets the value brought into range, and shows it even when the value is
    // unchanged but the text still holds something typed.
    void SetNumber(long long value);

    // Called for a refused character; the system beep unless replaced.
    std::function<void()> Beep;

  protected:
    QValidator::State validate(QString& input, int& pos) const override;
    int valueFromText(const QString& text) const override;
    QString textFromValue(int value) const override;
    void fixup(QString& input) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    bool AllowedCharacter(QChar c) const;
};

// Progress gauge: maximum and value as integers, the percentage written in the
// bar. A maximum of 0 shows an empty bar at 0% (QProgressBar alone would turn
// 0..0 into a busy indicator).
class Gauge : public QProgressBar {
    Q_OBJECT
  public:
    explicit Gauge(QWidget* parent = nullptr);

    int MaxValue() const { return m_maxValue; }
    int Progress() const { return m_progress; }
    void SetMaxValue(int maximum);
    void SetProgress(int value);

  private:
    void Show();

    int m_maxValue = 100;
    int m_progress = 0;
};

}  // namespace parevo
