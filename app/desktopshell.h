#pragma once

#include <QString>

class QWidget;

namespace skarnel {

// Opens an address in the user's default browser.
class DesktopShell
{
public:
    virtual ~DesktopShell() = default;

    // Returns false when the address could not be handed to a browser. Never shows anything.
    virtual bool openUrl(QWidget *owner, const QString &address) = 0;
};

class SystemShell final : public DesktopShell
{
public:
    bool openUrl(QWidget *owner, const QString &address) override;
};

} // namespace skarnel
