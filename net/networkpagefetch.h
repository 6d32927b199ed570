#pragma once

#include <net/internettransfer.h>

#include <memory>
#include <optional>

namespace skarnel {

class PageDownload;

// A fetch by NetworkServices. A body that reaches the size cap counts as finished, with the text of
// its first bytes: the check reads text, and the start of a page is worth more than no page.
class NetworkPageFetch final : public PageFetch
{
public:
    explicit NetworkPageFetch(std::unique_ptr<PageDownload> pageDownload);
    ~NetworkPageFetch() override;

    bool isFinished() const override;
    bool failed() const override;
    QString text() const override;
    int httpStatus() const override;
    QString statusText() const override;
    QString failureReason() const override;
    QString finalAddress() const override;
    RedirectKind redirectKind() const override;

private:
    std::unique_ptr<PageDownload> download;
    // Decoded on first demand after the download has ended, as text() is const.
    mutable std::optional<QString> decoded;
};

} // namespace skarnel
