#include "commandcontext.h"

#include <site/sitemodel.h>

namespace skarnel {

bool isCrawledPage(const CommandContext &c, const QString &address)
{
    if (c.options.resources && c.site.kindOf(address) != AddressKind::Page)
        return false;
    return c.options.noCrawl.pattern().isEmpty() || !c.options.noCrawl.match(address).hasMatch();
}

bool crawlsEveryEntry(const CommandContext &c)
{
    return !c.options.resources && c.options.noCrawl.pattern().isEmpty();
}

} // namespace skarnel
