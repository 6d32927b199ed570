#include "optionsdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace skarnel {

namespace {

template<typename Control>
Control *named(Control *control, const char *name, const QString &tip = {})
{
    control->setObjectName(QLatin1String(name));
    if (!tip.isEmpty())
        control->setToolTip(tip);
    return control;
}

QSpinBox *makeSpinBox(const char *name, int lowest, int highest, int value, const QString &suffix,
                      const QString &tip)
{
    auto *box = named(new QSpinBox, name, tip);
    box->setRange(lowest, highest);
    box->setValue(value);
    box->setSuffix(suffix);
    return box;
}

QLineEdit *makeLineEdit(const char *name, const QString &text, const QString &tip)
{
    auto *box = named(new QLineEdit(text), name, tip);
    box->setMaxLength(std::numeric_limits<int>::max());
    return box;
}

QStringList headerLines(const QString &text)
{
    QStringList headers;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            headers.append(line.trimmed());
    }
    return headers;
}

} // namespace

OptionsDialog::OptionsDialog(const CheckSettings &settings, QWidget *parent)
    : QDialog(parent)
    , given(settings)
{
    setObjectName(QStringLiteral("dlgOptions"));
    setWindowTitle(QStringLiteral("Options"));

    // Access keys: O and C are OK's and Cancel's in some styles.
    chkResources = named(new QCheckBox(QStringLiteral("Check &images, styles, scripts and frames")),
                         "chkResources",
                         QStringLiteral("Also list and check what each page makes a browser "
                                        "fetch besides its links."));
    chkFragments =
            named(new QCheckBox(QStringLiteral("Check #&fragments against the page's anchors")),
                  "chkFragments",
                  QStringLiteral("A link to page#part is broken when the page has no "
                                 "element with that id or name."));
    chkStrictRedirects =
            named(new QCheckBox(QStringLiteral("Count a permanent &redirect as broken")),
                  "chkStrictRedirects",
                  QStringLiteral("A link answered 301 or 308 should name the new "
                                 "address itself."));
    chkResources->setChecked(settings.resources);
    chkFragments->setChecked(settings.fragments);
    chkStrictRedirects->setChecked(settings.strictRedirects);

    spnPerHost = makeSpinBox("spnPerHost", CheckSettings::FewestPerHost, CheckSettings::MostPerHost,
                             settings.perHost, {},
                             QStringLiteral("How many requests may go to one host at once."));
    spnPause = makeSpinBox("spnPause", 0, CheckSettings::LongestPauseMs, settings.pauseMs,
                           QStringLiteral(" ms"),
                           QStringLiteral("The least time between the starts of two requests "
                                          "to one host."));
    spnRetryCap = makeSpinBox("spnRetryCap", 0, CheckSettings::LongestRetryCapS, settings.retryCapS,
                              QStringLiteral(" s"),
                              QStringLiteral("A server that asks to be retried later is waited "
                                             "for this long at most."));
    txtAccept = makeLineEdit("txtAccept", statusesText(settings.accept),
                             QStringLiteral("Statuses that count as fine, such as 403, 429."));
    txtExclude = makeLineEdit("txtExclude", settings.exclude,
                              QStringLiteral("A regular expression: matching addresses are "
                                             "listed but not checked."));
    txtNoCrawl = makeLineEdit("txtNoCrawl", settings.noCrawl,
                              QStringLiteral("A regular expression: matching pages are listed "
                                             "but their links are not followed."));
    txtHeaders = named(new QPlainTextEdit(settings.headers.join(QLatin1Char('\n'))), "txtHeaders",
                       QStringLiteral("One \"Name: value\" a line, sent to the start address's "
                                      "origin only."));
    txtHeaders->setTabChangesFocus(true);
    txtHeaders->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtUser = makeLineEdit("txtUser", settings.user,
                           QStringLiteral("A user name for HTTP basic authentication."));
    txtPassword = makeLineEdit("txtPassword", settings.password,
                               QStringLiteral("Kept only until the program ends."));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtCookieFile = makeLineEdit("txtCookieFile", settings.cookieFile,
                                 QStringLiteral("A cookie file in the Netscape format, as "
                                                "browsers' extensions and curl write it."));
    txtSiteUrl = makeLineEdit("txtSiteUrl", settings.siteUrl,
                              QStringLiteral("A start that is a built folder is read as if "
                                             "served at this http or https address."));
    auto *browse = named(new QPushButton(QStringLiteral("&Browse\u2026")), "cmdCookieFileBrowse");
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, &OptionsDialog::browseCookieFile);

    lblError = named(new QLabel, "lblOptionsError");
    lblError->setWordWrap(true);
    lblError->setTextFormat(Qt::PlainText);
    lblError->hide();

    auto *buttons = named(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel),
                          "btnOptions");
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdOptionsOk"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdOptionsCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionsDialog::reject);

    auto *form = new QFormLayout;
    const auto addRow = [&](const QString &caption, QWidget *control, QLayout *row = nullptr) {
        auto *label = new QLabel(caption);
        label->setBuddy(control);
        if (row)
            form->addRow(label, row);
        else
            form->addRow(label, control);
    };
    addRow(QStringLiteral("Requests at once per &host:"), spnPerHost);
    addRow(QStringLiteral("&Pause between requests to a host:"), spnPause);
    addRow(QStringLiteral("&Longest Retry-After wait:"), spnRetryCap);
    addRow(QStringLiteral("Accept &statuses:"), txtAccept);
    addRow(QStringLiteral("Do not chec&k addresses matching:"), txtExclude);
    addRow(QStringLiteral("Do not crawl pa&ges matching:"), txtNoCrawl);
    addRow(QStringLiteral("Hea&ders:"), txtHeaders);
    addRow(QStringLiteral("User &name:"), txtUser);
    addRow(QStringLiteral("Pass&word:"), txtPassword);
    auto *cookieRow = new QHBoxLayout;
    cookieRow->addWidget(txtCookieFile);
    cookieRow->addWidget(browse);
    addRow(QStringLiteral("Cookie fil&e:"), txtCookieFile, cookieRow);

    // Certificates, our name and how far a Crawl press goes.
    txtCaFile = makeLineEdit("txtCaFile", settings.caFile,
                             QStringLiteral("A PEM file of authorities trusted for every host "
                                            "besides the system's, such as a company's own."));
    chkInsecure = named(new QCheckBox(QStringLiteral("Do not verify the start address's "
                                                     "&certificate")),
                        "chkInsecure",
                        QStringLiteral("For the start address's scheme, host and port alone; "
                                       "kept only until the program ends."));
    chkInsecure->setChecked(settings.insecure);
    txtUserAgent = makeLineEdit("txtUserAgent", settings.userAgent,
                                QStringLiteral("Sent to every host in place of Skarnel/VERSION."));
    txtUserAgent->setPlaceholderText(defaultUserAgent());
    spnCrawlLevels = makeSpinBox("spnCrawlLevels", CheckSettings::AllLevels,
                                 CheckSettings::MostLevels, settings.crawlLevels, {},
                                 QStringLiteral("How many levels one Crawl goes, each page loaded "
                                                "once; all: until no new internal page."));
    spnCrawlLevels->setSpecialValueText(QStringLiteral("all"));
    addRow(QStringLiteral("&Authorities (CA file):"), txtCaFile);
    form->addRow(QString(), chkInsecure);
    addRow(QStringLiteral("&User agent:"), txtUserAgent);
    addRow(QStringLiteral("Crawl le&vels:"), spnCrawlLevels);
    addRow(QStringLiteral("Site address of a f&older:"), txtSiteUrl);

    chkRobots = named(new QCheckBox(QStringLiteral("Keep out of what robots.t&xt forbids")),
                      "chkRobots",
                      QStringLiteral("Each site's robots.txt is read: the addresses it forbids are "
                                     "listed, not fetched, and its Crawl-delay is waited."));
    chkRobots->setChecked(settings.robots);
    txtSitemap = makeLineEdit("txtSitemap", settings.sitemap,
                              QStringLiteral("A sitemap's address, or auto: the site's pages it "
                                             "lists are crawled and checked too."));
    addRow(QStringLiteral("Site&map:"), txtSitemap);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(chkResources);
    layout->addWidget(chkFragments);
    layout->addWidget(chkStrictRedirects);
    layout->addWidget(chkRobots);
    layout->addLayout(form);
    layout->addWidget(lblError);
    layout->addWidget(buttons);

    // Top to bottom, as the controls stand.
    const QList<QWidget *> order = {
            chkResources, chkFragments, chkStrictRedirects, chkRobots,      spnPerHost,
            spnPause,     spnRetryCap,  txtAccept,          txtExclude,     txtNoCrawl,
            txtHeaders,   txtUser,      txtPassword,        txtCookieFile,  browse,
            txtCaFile,    chkInsecure,  txtUserAgent,       spnCrawlLevels, txtSiteUrl,
            txtSitemap,   buttons};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
    chkResources->setFocus(Qt::OtherFocusReason);
}

CheckSettings OptionsDialog::settings() const
{
    CheckSettings settings = given;
    settings.resources = chkResources->isChecked();
    settings.fragments = chkFragments->isChecked();
    settings.strictRedirects = chkStrictRedirects->isChecked();
    settings.perHost = spnPerHost->value();
    settings.pauseMs = spnPause->value();
    settings.retryCapS = spnRetryCap->value();
    const auto statuses = parseStatuses(txtAccept->text());
    if (const auto *list = std::get_if<QList<int>>(&statuses))
        settings.accept = *list;
    settings.exclude = txtExclude->text();
    settings.noCrawl = txtNoCrawl->text();
    settings.headers = headerLines(txtHeaders->toPlainText());
    settings.user = txtUser->text().trimmed();
    settings.password = txtPassword->text();
    settings.cookieFile = txtCookieFile->text().trimmed();
    settings.caFile = txtCaFile->text().trimmed();
    settings.insecure = chkInsecure->isChecked();
    settings.userAgent = txtUserAgent->text().trimmed();
    settings.crawlLevels = spnCrawlLevels->value();
    settings.siteUrl = txtSiteUrl->text().trimmed();
    settings.robots = chkRobots->isChecked();
    settings.sitemap = txtSitemap->text().trimmed();
    return settings;
}

void OptionsDialog::accept()
{
    const auto statuses = parseStatuses(txtAccept->text());
    if (const auto *error = std::get_if<QString>(&statuses)) {
        showError(QStringLiteral("Accept statuses: ") + *error);
        return;
    }
    if (const std::optional<QString> error = settingsError(settings())) {
        showError(*error);
        return;
    }
    QDialog::accept();
}

void OptionsDialog::showError(const QString &error)
{
    // The words are shared with the command line, which starts them in lower case.
    QString sentence = error;
    if (!sentence.isEmpty())
        sentence[0] = sentence[0].toUpper();
    lblError->setText(sentence);
    lblError->show();
}

void OptionsDialog::browseCookieFile()
{
    const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Cookie file"), QFileInfo(txtCookieFile->text()).absolutePath(),
            QStringLiteral("Cookie files (*.txt);;All files (*)"));
    if (!path.isEmpty())
        txtCookieFile->setText(path);
}

} // namespace skarnel
