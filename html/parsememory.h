#pragma once

#include <QByteArrayView>
#include <QDeadlineTimer>

#include <gumbo.h>

#include <atomic>
#include <memory>

namespace skarnel {

// The parse tree of an HTML page, made by gumbo under three limits, any of which stops the parse
// and leaves it without a tree: the time until `deadline`, `abandoned` (when given) turning true,
// and the memory that the parses under way share, 192 MiB whatever thread each runs on. A parse
// that the others left short of memory is made again once they have ended, alone, within what is
// left of its time; a page that needs more than the whole budget stops.
//
// The tree is released as a whole with this object, and with it the page's share of the memory.
class ParsedHtml final
{
public:
    // `html` is UTF-8 and outlives this object: the tree points into it.
    ParsedHtml(QByteArrayView html, QDeadlineTimer deadline, const std::atomic<bool> *abandoned);
    ~ParsedHtml();
    ParsedHtml(const ParsedHtml &) = delete;
    ParsedHtml &operator=(const ParsedHtml &) = delete;

    // The document node, or null when the parse was stopped.
    const GumboNode *document() const { return root; }

private:
    class Turn;
    struct GumboRun;

    // Declared in this order so that the tree goes before the turn it was made in.
    std::unique_ptr<Turn> turn;
    std::unique_ptr<GumboRun> run;
    const GumboNode *root = nullptr;
};

} // namespace skarnel
