#include "app/hint_timing.h"

#include <QApplication>

namespace parevo {

int HintTimingStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                               QStyleHintReturn* returnData) const {
    if (hint == SH_ToolTip_WakeUpDelay) {
        return m_hintPause;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

HintTimingStyle& ApplicationHintTiming() {
    // The application owns its style and deletes it when replaced, so look for
    // ours there rather than keeping a pointer that could dangle.
    if (auto* style = qobject_cast<HintTimingStyle*>(QApplication::style())) {
        return *style;
    }
    auto* style = new HintTimingStyle();
    QApplication::setStyle(style);
    return *style;
}

}  // namespace parevo
