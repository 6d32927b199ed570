// Runs once for each scale factor that CTest sets in QT_SCALE_FACTOR: the window must look the
// same on a screen of any resolution, only sharper.
#include "support/windowharness.h"

#include <QApplication>
#include <QGroupBox>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

double scaleFactor()
{
    bool ok = false;
    const double factor = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
    return ok ? factor : 1.0;
}

void showExposed(WindowHarness &h)
{
    h.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));
}

QRect buttonTextArea(const QPushButton &button)
{
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    return button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
}

} // namespace

class HighDpiTest final : public QObject
{
    Q_OBJECT

private slots:
    void window_drawnAtTheScreensPixelRatio();
    void controls_keepTheirGeometryInDeviceIndependentPixels();
    void captions_fitTheirControls();
};

void HighDpiTest::window_drawnAtTheScreensPixelRatio()
{
    WindowHarness h;
    showExposed(h);
    const double factor = scaleFactor();
    QCOMPARE(h.window.devicePixelRatio(), factor);
    const QPixmap picture = h.window.grab();
    QCOMPARE(picture.devicePixelRatio(), factor);
    QCOMPARE(picture.size(), (QSizeF(h.window.size()) * factor).toSize());
}

// The layout is drawn up in twips, 15 to a device-independent pixel, whatever the screen.
void HighDpiTest::controls_keepTheirGeometryInDeviceIndependentPixels()
{
    WindowHarness h;
    showExposed(h);
    QCOMPARE(h.window.width(), 521);
    QCOMPARE(h.window.frameGeometry().height(), 461);

    const std::pair<const char *, QRect> fixed[] = {
            {"Label1", {8, 24, 113, 17}},           {"txtAddress", {96, 24, 225, 19}},
            {"cmdCrawl", {328, 24, 89, 17}},        {"Label3", {32, 56, 81, 17}},
            {"cmdForceStop", {88, 88, 65, 33}},     {"txtHTML", {152, 104, 209, 41}},
            {"Label4", {32, 200, 113, 17}},         {"lblInternal", {16, 344, 153, 17}},
            {"lblExternal", {176, 344, 153, 17}},   {"lblTotal", {16, 376, 153, 17}},
            {"lblBroken", {176, 376, 153, 17}},     {"lblCopyright", {352, 376, 161, 17}},
            {"Label2", {24, 32, 193, 17}},          {"lstErrors", {24, 48, 225, 69}},
            {"cmdSettingsAdd", {24, 120, 65, 25}},  {"cmdSettingsRemove", {96, 120, 65, 25}},
            {"cmdSettingsDone", {24, 296, 89, 25}}, {"Label5", {32, 32, 137, 17}},
            {"cmdBrokenHide", {232, 16, 89, 25}},   {"cmdCheckBroken", {328, 16, 161, 25}},
            {"Label6", {32, 24, 457, 33}},          {"Label7", {32, 56, 257, 17}},
            {"txtBrokenLink", {64, 56, 305, 19}},   {"cmdBrokenLinkCrawl", {376, 56, 113, 25}},
            {"cmdLinksHide", {400, 16, 81, 25}},
    };
    for (const auto &[name, geometry] : fixed)
        QVERIFY2(h.get(name)->geometry() == geometry, name);

    // The lists and panels follow the window's outer width, which holds the frame the platform
    // draws in its own pixels; their height and place are fixed.
    const int outerWidth = h.window.frameGeometry().width();
    const std::pair<const char *, QRect> following[] = {
            {"lstInternal", {8, 72, 0, 121}},   {"lstExternal", {8, 216, 0, 121}},
            {"fraSettings", {8, 8, 0, 329}},    {"fraBroken", {8, 8, 0, 329}},
            {"fraLinksToPage", {8, 8, 0, 329}},
    };
    for (const auto &[name, geometry] : following)
        QVERIFY2(h.get(name)->geometry() == geometry.adjusted(0, 0, outerWidth - 24, 0), name);
    const int panelWidth = outerWidth - 24;
    QVERIFY(h.get("txtBroken")->geometry() == QRect(8, 48, panelWidth - 24, 273));
    QVERIFY(h.get("txtLinksToPage")->geometry() == QRect(8, 88, panelWidth - 24, 233));
}

// At the window's font: every button's caption fits inside its frame, and every label's text,
// the counters' largest likely counts included, fits the label.
void HighDpiTest::captions_fitTheirControls()
{
    WindowHarness h;
    showExposed(h);
    for (QPushButton *button : h.window.findChildren<QPushButton *>()) {
        const QFontMetrics metrics = button->fontMetrics();
        const QRect area = buttonTextArea(*button);
        QVERIFY2(metrics.horizontalAdvance(button->text()) <= area.width(),
                 qPrintable(button->objectName()));
        QVERIFY2(metrics.height() <= button->height(), qPrintable(button->objectName()));
        QVERIFY(button->font().bold());
    }
    QVERIFY(h.button("cmdCheckBroken")->fontMetrics().horizontalAdvance("Check broken links")
            <= h.button("cmdCheckBroken")->width());

    const std::pair<const char *, QString> counters[] = {
            {"lblInternal", "Internal links: 999999"},
            {"lblExternal", "External links: 999999"},
            {"lblTotal", "Total links: 9999999"},
            {"lblBroken", "Broken links: 999999"},
    };
    for (const auto &[name, longest] : counters)
        h.get<QLabel>(name)->setText(longest);
    for (QLabel *label : h.window.findChildren<QLabel *>()) {
        if (label->text().isEmpty() || label->objectName().isEmpty())
            continue;
        const QFontMetrics metrics = label->fontMetrics();
        const QRect area = label->contentsRect();
        if (label->wordWrap()) {
            QVERIFY2(label->heightForWidth(area.width()) <= area.height(),
                     qPrintable(label->objectName()));
        } else {
            QVERIFY2(metrics.horizontalAdvance(label->text()) <= area.width(),
                     qPrintable(label->objectName()));
            QVERIFY2(metrics.height() <= area.height(), qPrintable(label->objectName()));
        }
    }
    for (QGroupBox *panel : h.window.findChildren<QGroupBox *>())
        QVERIFY2(panel->fontMetrics().horizontalAdvance(panel->title()) <= panel->width(),
                 qPrintable(panel->objectName()));
}

QTEST_MAIN(HighDpiTest)
#include "tst_highdpi.moc"
