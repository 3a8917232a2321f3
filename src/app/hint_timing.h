#pragma once
// The application's hint (tooltip) delays. Qt 6.4 has no setting for them; the
// delay before a tooltip shows is asked of the style, so a proxy style over the
// application's style answers it. The delay before the next tooltip while one is
// showing is fixed inside Qt (20 ms); the value is kept so the window can report
// what the preferences asked for.

#include <QProxyStyle>

namespace parevo {

class HintTimingStyle : public QProxyStyle {
    Q_OBJECT
  public:
    explicit HintTimingStyle(QStyle* base = nullptr) : QProxyStyle(base) {}

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override;

    int HintPause() const { return m_hintPause; }
    void SetHintPause(int milliseconds) { m_hintPause = milliseconds; }
    int HintShortPause() const { return m_hintShortPause; }
    void SetHintShortPause(int milliseconds) { m_hintShortPause = milliseconds; }

  private:
    int m_hintPause = 500;
    int m_hintShortPause = 0;
};

// The application's hint timing, installed over its style on first use.
HintTimingStyle& ApplicationHintTiming();

}  // namespace parevo
