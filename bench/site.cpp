#include "site.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view Words[] = {
        "the",        "site",       "page",         "link",        "of",          "and",
        "to",         "a",          "in",           "is",          "for",         "with",
        "that",       "on",         "as",           "are",         "this",        "be",
        "by",         "from",       "or",           "an",          "it",          "at",
        "which",      "can",        "all",          "more",        "service",     "customer",
        "product",    "support",    "update",       "report",      "garden",      "library",
        "weather",    "mountain",   "river",        "station",     "council",     "school",
        "market",     "festival",   "museum",       "archive",     "history",     "research",
        "project",    "members",    "community",    "results",     "season",      "training",
        "schedule",   "notice",     "available",    "important",   "recent",      "local",
        "public",     "annual",     "several",      "different",   "following",   "previous",
        "including",  "between",    "through",      "during",      "without",     "although",
        "however",    "because",    "information",  "department",  "application", "development",
        "management", "experience", "opportunity",  "environment", "published",   "committee",
        "equipment",  "volunteers", "registration", "newsletter",  "directions",  "opening",
        "hours",      "contact",    "address",      "north",       "south",       "east",
        "west"};

// A small deterministic generator, so that every process builds the same pages.
class Random final
{
public:
    explicit Random(std::uint64_t seed)
        : state(seed * 0x9E3779B97F4A7C15ull + 1)
    {
    }
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int bound) { return int(next() % std::uint64_t(bound)); }

private:
    std::uint64_t state = 0;
};

void appendWords(std::string &out, Random &random, int count, bool capitalise)
{
    for (int i = 0; i < count; ++i) {
        std::string_view word = Words[random.below(int(std::size(Words)))];
        if (i > 0)
            out += ' ';
        if (i == 0 && capitalise) {
            out += char(word[0] - 'a' + 'A');
            out += word.substr(1);
        } else {
            out += word;
        }
    }
}

void appendSentence(std::string &out, Random &random)
{
    appendWords(out, random, 8 + random.below(14), true);
    out += ". ";
}

std::string head(const std::string &title)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>"
           + title
           + "</title>\n"
             "<style>body{font-family:sans-serif;margin:0 auto;max-width:60em}"
             "nav ul{list-style:none;display:flex;gap:1em}article p{line-height:1.5}"
             "footer{border-top:1px solid #ccc;font-size:small}</style>\n"
             "<script>window.dataLayer=window.dataLayer||[];</script>\n</head>\n";
}

// The links of internal page `number`, in document order: five in the navigation, the rest in
// the text, kinds taken in turn.
std::vector<std::string> pageLinks(const SiteShape &site, int number)
{
    std::vector<std::string> links;
    const int bodyLinks = std::max(0, site.linksPerPage - 5);
    const int base = number - 1;
    auto internal = [&](int k) { return (base * 17 + k * 131) % site.pages + 1; };

    links.push_back("/");
    for (int k = 0; k < std::min(4, site.linksPerPage - 1); ++k)
        links.push_back(internalPagePath(internal(k + 1000)));

    int deep = 0;
    int external = 0;
    for (int k = 0; k < bodyLinks; ++k) {
        switch (k % 10) {
        case 0:
            links.push_back(internalPagePath(internal(k)));
            break;
        case 1:
            links.push_back(std::to_string(internal(k)) + ".html");
            break; // relative
        case 2:
            links.push_back(site.internalOrigin + internalPagePath(internal(k)));
            break;
        case 3:
        case 4:
            links.push_back("/deep/" + std::to_string((base * 9 + deep++) % site.deepPages)
                            + ".html");
            break;
        case 5:
            links.push_back(k % 20 == 5 ? std::string("#top")
                                        : internalPagePath(internal(k)) + "#section-2");
            break;
        case 6:
            links.push_back("mailto:office" + std::to_string(number % 7) + "@example.org");
            break;
        default:
            links.push_back(site.externalOrigin + "/ext/"
                            + std::to_string((base * 13 + external++) % site.externalPages)
                            + ".html");
            break;
        }
    }
    links.resize(std::size_t(std::max(0, site.linksPerPage)));
    return links;
}

void appendLink(std::string &out, const std::string &href, Random &random)
{
    out += "<a href=\"";
    out += href;
    out += "\">";
    appendWords(out, random, 1 + random.below(4), false);
    out += "</a> ";
}

} // namespace

std::string internalPagePath(int number)
{
    return "/page/" + std::to_string(number) + ".html";
}

std::string startPage(const SiteShape &site)
{
    std::string html =
            head("Welcome") + "<body>\n<header><h1>Welcome</h1></header>\n<main>\n<ul>\n";
    for (int n = 1; n <= site.pages; ++n)
        html += "<li><a href=\"" + internalPagePath(n) + "\">Page " + std::to_string(n)
                + "</a></li>\n";
    html += "</ul>\n</main>\n</body>\n</html>\n";
    return html;
}

std::string internalPage(const SiteShape &site, int number)
{
    Random random {std::uint64_t(number)};
    const std::size_t size = std::size_t(20 + (number * 7919) % 41) * 1024;
    const std::vector<std::string> links = pageLinks(site, number);

    std::string html = head("Page " + std::to_string(number));
    html.reserve(size + 4096);
    html += "<body>\n<header><h1>Page " + std::to_string(number) + "</h1>\n<nav><ul>\n";
    std::size_t next = 0;
    for (; next < links.size() && next < 5; ++next) {
        html += "<li>";
        appendLink(html, links[next], random);
        html += "</li>\n";
    }
    html += "</ul></nav>\n</header>\n<main><article id=\"top\">\n";

    // About 700 bytes a paragraph; the text links are spread evenly over the paragraphs.
    const std::size_t paragraphs = std::max<std::size_t>(1, size / 700);
    const std::size_t textLinks = links.size() - next;
    for (std::size_t p = 0; p < paragraphs; ++p) {
        if (p % 6 == 0)
            html += "<h2 id=\"section-" + std::to_string(p / 6 + 1) + "\">Section "
                    + std::to_string(p / 6 + 1) + "</h2>\n";
        html += "<p>";
        const std::size_t linksHere = textLinks * (p + 1) / paragraphs - textLinks * p / paragraphs;
        const std::size_t start = html.size();
        for (std::size_t l = 0; l < linksHere; ++l) {
            appendSentence(html, random);
            appendLink(html, links[next++], random);
        }
        while (html.size() - start < 640)
            appendSentence(html, random);
        html += "</p>\n";
    }
    html += "</article></main>\n<footer><p>Published by the site team. Last updated on the "
            "first of the month.</p></footer>\n</body>\n</html>\n";
    return html;
}

SitePage deepPage(const SiteShape &site, int number)
{
    (void)site;
    Random random(std::uint64_t(number) + 1000003);
    if (number % 100 == 99) {
        return {404, head("Not found")
                             + "<body><h1>Page not found</h1><p>The page you asked "
                               "for is not here.</p></body></html>\n"};
    }
    std::string html = head("Deep " + std::to_string(number)) + "<body><h1>Deep page</h1>\n";
    for (int p = 0; p < 8; ++p) {
        html += "<p>";
        for (int s = 0; s < 6; ++s)
            appendSentence(html, random);
        html += "</p>\n";
    }
    html += "</body></html>\n";
    return {200, html};
}

SitePage externalPage(const SiteShape &site, int number)
{
    (void)site;
    Random random(std::uint64_t(number) + 2000003);
    if (number % 50 == 49) {
        return {404,
                head("Error") + "<body><h1>Error 404</h1><p>Page not found.</p></body></html>\n"};
    }
    std::string html = head("Elsewhere " + std::to_string(number)) + "<body><h1>Elsewhere</h1>\n";
    for (int p = 0; p < 12; ++p) {
        html += "<p>";
        for (int s = 0; s < 6; ++s)
            appendSentence(html, random);
        html += "</p>\n";
    }
    html += "</body></html>\n";
    return {200, html};
}
