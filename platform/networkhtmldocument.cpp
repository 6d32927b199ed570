#include "networkhtmldocument.h"

#include "htmllinks.h"
#include "pagedownload.h"

NetworkHtmlDocument::NetworkHtmlDocument(std::unique_ptr<PageDownload> pageDownload)
    : download(std::move(pageDownload))
{
}

NetworkHtmlDocument::~NetworkHtmlDocument() = default;

QString NetworkHtmlDocument::readyState() const
{
    return download->outcome() == PageDownload::Outcome::Running ? ReadyStateLoading
                                                                 : ReadyStateComplete;
}

QStringList NetworkHtmlDocument::links() const
{
    if (found)
        return *found;
    switch (download->outcome()) {
    case PageDownload::Outcome::Running:
        return {};
    case PageDownload::Outcome::Complete:
    case PageDownload::Outcome::Capped:
    case PageDownload::Outcome::TimedOut:
        found = readLinks(download->body(), download->contentType(), download->finalAddress());
        break;
    case PageDownload::Outcome::NotHtml:
    case PageDownload::Outcome::Failed:
        found.emplace();
        break;
    }
    return *found;
}
