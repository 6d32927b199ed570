#pragma once

class QWidget;

namespace skarnel {

// The controls that follow the window's width.
struct WidthFollowers
{
    QWidget &fraLinksToPage;
    QWidget &fraSettings;
    QWidget &fraBroken;
    QWidget &txtLinksToPage;
    QWidget &txtBroken;
    QWidget &lstInternal;
    QWidget &lstExternal;
};

// Start-up placement: the three panels take their one common place.
void placePanels(QWidget &fraSettings, QWidget &fraBroken, QWidget &fraLinksToPage);

// The resize rule: the window keeps its outer height (frame, title and menu bar included) unless
// maximised or minimised; the panels and link lists are the window's outer width less 360 twips,
// and the text boxes in the panels their panel's width less 360 twips. A width that would come
// out below zero is not applied.
void applyResizeRule(QWidget &window, const WidthFollowers &followers);

// The window's pinned outer height, in device-independent pixels.
int pinnedOuterHeight();

} // namespace skarnel
