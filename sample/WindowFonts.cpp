#include "sample/WindowFonts.h"

#include <QFont>
#include <QWidget>

namespace quenvar::sample {

void preferSansSerifFallback(QWidget* root) {
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        QFont font = widget->font();
        if (font.family() != QLatin1String(classicFaceName) || font.styleHint() == QFont::SansSerif) continue;
        font.setStyleHint(QFont::SansSerif);
        widget->setFont(font);
    }
}

}  // namespace quenvar::sample
