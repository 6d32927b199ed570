#pragma once

#include <net/pageload.h>

#include <memory>
#include <optional>

namespace skarnel {

class AsideReading;
class PageDownload;

// A load by NetworkServices over one PageDownload. What the mode reads besides the answer (the
// links, resources and anchors of a page; the anchors with TextAndAnchors) is read aside, on a
// worker thread, as soon as the download ends (see AsideReading): the load is done once that is
// read, in an event delivered on the thread that created it, as the contract in pageload.h asks.
//
// LoadMode::Page: a page that ran out of time or reached the size cap has its links read as far
// as it arrived; one that could not be loaded, or is not HTML, has none. The text modes: a body
// that reaches the size cap counts as read, with the text of its start (the check reads text, and
// the start of a page is worth more than no page).
class NetworkPageLoad final : public PageLoad
{
public:
    NetworkPageLoad(std::unique_ptr<PageDownload> pageDownload, const LoadRequest &request);
    ~NetworkPageLoad() override;

    bool isDone() const override;
    LoadOutcome outcome() const override;
    QString text() const override;
    int httpStatus() const override;
    QString statusText() const override;
    QString failureReason() const override;
    QString finalAddress() const override;
    RedirectKind redirectKind() const override;
    QList<FoundLink> foundLinks() const override;
    std::optional<QStringList> anchors() const override;
    QByteArray body() const override;

private:
    void readAside();
    bool wantsAnchors() const;
    bool isReadAsHtml() const;

    std::unique_ptr<PageDownload> download;
    LoadMode mode = LoadMode::Text;
    PageReadOptions reading;
    // The reading aside, once one has started.
    std::unique_ptr<AsideReading> aside;
    // Decoded on first demand after the download has ended, as text() is const.
    mutable std::optional<QString> decoded;
};

} // namespace skarnel
