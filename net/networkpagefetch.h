#pragma once

#include <net/internettransfer.h>

#include <memory>
#include <optional>

namespace skarnel {

class AsideReading;
class PageDownload;

// A fetch by NetworkServices. A body that reaches the size cap counts as finished, with the text of
// its first bytes: the check reads text, and the start of a page is worth more than no page.
class NetworkPageFetch final : public PageFetch
{
public:
    // With `readAnchors`, a page that answers 2xx with HTML has its anchors read aside once it has
    // arrived, and the fetch finishes once they are read.
    explicit NetworkPageFetch(std::unique_ptr<PageDownload> pageDownload, bool readAnchors = false);
    ~NetworkPageFetch() override;

    bool isFinished() const override;
    bool failed() const override;
    QString text() const override;
    int httpStatus() const override;
    QString statusText() const override;
    QString failureReason() const override;
    QString finalAddress() const override;
    RedirectKind redirectKind() const override;
    std::optional<QStringList> anchors() const override;

private:
    void readAnchorsAside();

    std::unique_ptr<PageDownload> download;
    // The anchors' reading, while one is wanted or under way.
    std::unique_ptr<AsideReading> anchorReading;
    // Decoded on first demand after the download has ended, as text() is const.
    mutable std::optional<QString> decoded;
};

} // namespace skarnel
