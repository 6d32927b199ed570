#pragma once

#include <walk/runoptions.h>

#include <QString>

namespace skarnel {

class CommandHost;
class StopFlag;
struct SiteModel;

// What the crawl, the check and the search work on: the site's data, the stop flag they share
// with the commands given while they run, and the face they run under. All outlive the command.
struct CommandContext
{
    SiteModel &site;
    StopFlag &stop;
    CommandHost &host;
    // Whether the pages of the next entries load ahead (the default), or each only when reached.
    // What the site's data shows is the same either way.
    bool loadAhead = true;
    RunOptions options = {};
};

// Whether the crawl and the search load `address` as a page: not when it is an image, a style,
// a script, a frame or another resource, nor when the user keeps it out of the crawl.
bool isCrawledPage(const CommandContext &command, const QString &address);
// Whether every listed address is loaded as a page, as when neither switch above is on.
bool crawlsEveryEntry(const CommandContext &command);

} // namespace skarnel
