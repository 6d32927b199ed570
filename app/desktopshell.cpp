#include "desktopshell.h"

#include <QDesktopServices>
#include <QUrl>

namespace skarnel {

bool SystemShell::openUrl(QWidget *, const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return false;
    return QDesktopServices::openUrl(url);
}

} // namespace skarnel
