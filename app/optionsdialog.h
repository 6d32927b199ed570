#pragma once

#include <QDialog>

#include <run/checksettings.h>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

namespace skarnel {

// The Options dialog: every CheckSettings field in a control of its own, each named by its label.
// OK closes it only when the settings hold together (settingsError()); otherwise it says why and
// stays open, the settings given unchanged.
class OptionsDialog final : public QDialog
{
    Q_OBJECT

public:
    explicit OptionsDialog(const CheckSettings &settings, QWidget *parent = nullptr);

    // What the controls hold now; when the accept list cannot be read, the list given.
    CheckSettings settings() const;

    void accept() override;

private:
    void browseCookieFile();
    void showError(const QString &error);

    CheckSettings given;
    QCheckBox *chkResources = nullptr;
    QCheckBox *chkFragments = nullptr;
    QCheckBox *chkStrictRedirects = nullptr;
    QSpinBox *spnPerHost = nullptr;
    QSpinBox *spnPause = nullptr;
    QSpinBox *spnRetryCap = nullptr;
    QLineEdit *txtAccept = nullptr;
    QLineEdit *txtExclude = nullptr;
    QLineEdit *txtNoCrawl = nullptr;
    QPlainTextEdit *txtHeaders = nullptr;
    QLineEdit *txtUser = nullptr;
    QLineEdit *txtPassword = nullptr;
    QLineEdit *txtCookieFile = nullptr;
    // Certificates, our name and how far a Crawl press goes.
    QLineEdit *txtCaFile = nullptr;
    QCheckBox *chkInsecure = nullptr;
    QLineEdit *txtUserAgent = nullptr;
    QSpinBox *spnCrawlLevels = nullptr;
    QLineEdit *txtSiteUrl = nullptr;
    QCheckBox *chkRobots = nullptr;
    QLineEdit *txtSitemap = nullptr;
    QLabel *lblError = nullptr;
};

} // namespace skarnel
