#include "windowlayout.h"

#include "twips.h"

#include <QWidget>

namespace skarnel {

namespace {

constexpr int PanelPosition = 120;
constexpr int PinnedHeight = 6915;
constexpr int WidthAllowance = 360;

void setWidthIfValid(QWidget &control, int width)
{
    if (width >= 0)
        control.resize(width, control.height());
}

int outerWidth(const QWidget &window)
{
    return window.frameGeometry().width();
}

} // namespace

int pinnedOuterHeight()
{
    return pixelsFromTwips(PinnedHeight);
}

void placePanels(QWidget &fraSettings, QWidget &fraBroken, QWidget &fraLinksToPage)
{
    const int position = pixelsFromTwips(PanelPosition);
    for (QWidget *panel : {&fraSettings, &fraBroken, &fraLinksToPage})
        panel->move(position, position);
}

void applyResizeRule(QWidget &window, const WidthFollowers &f)
{
    const int allowance = pixelsFromTwips(WidthAllowance);

    if (!(window.windowState()
          & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))) {
        const int frameHeight = window.frameGeometry().height() - window.height();
        const int height = pinnedOuterHeight() - frameHeight;
        if (window.height() != height)
            window.resize(window.width(), height);
    }

    setWidthIfValid(f.fraLinksToPage, outerWidth(window) - allowance);
    setWidthIfValid(f.fraSettings, outerWidth(window) - allowance);
    setWidthIfValid(f.fraBroken, outerWidth(window) - allowance);
    setWidthIfValid(f.txtLinksToPage, f.fraLinksToPage.width() - allowance);
    setWidthIfValid(f.txtBroken, f.fraBroken.width() - allowance);
    setWidthIfValid(f.lstInternal, outerWidth(window) - allowance);
    setWidthIfValid(f.lstExternal, outerWidth(window) - allowance);
}

} // namespace skarnel
