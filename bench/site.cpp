#include "site.h"

#include <algorithm>
#include <charconv>
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

std::string head(const std::string &title, bool stylesheet = false)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>"
           + title + "</title>\n"
           + (stylesheet
                      ? std::string("<link rel=\"stylesheet\" href=\"") + StylesheetPath + "\">\n"
                      : std::string())
           + "<style>body{font-family:sans-serif;margin:0 auto;max-width:60em}"
             "nav ul{list-style:none;display:flex;gap:1em}article p{line-height:1.5}"
             "footer{border-top:1px solid #ccc;font-size:small}</style>\n"
             "<script>window.dataLayer=window.dataLayer||[];</script>\n</head>\n";
}

// What a fragment link of the rich site points at: a section's id, the page's figure's id or its
// <a name>, and one in fifty at an anchor that no page holds.
std::string richFragment(int base, int k)
{
    const int choice = (base * 7 + k) % 50;
    if (choice == 0)
        return "gone";
    if (choice % 3 == 0)
        return "notes";
    if (choice % 3 == 1)
        return "figure-1";
    return "section-" + std::to_string(1 + choice % 4);
}

std::string sharedImagePath(int k)
{
    return "/img/shared-" + std::to_string(k % SharedImages) + ".png";
}

// The images of rich page `number` that stand before paragraph `paragraph`, if any: its own, with a
// srcset, before the first; then one shared image before each third paragraph, two to four.
void appendImages(std::string &out, int number, std::size_t paragraph)
{
    if (paragraph == 0) {
        out += "<figure id=\"figure-1\"><img src=\"/img/page-" + std::to_string(number)
               + ".png\" srcset=\"/img/page-" + std::to_string(number) + ".png 1x, /img/shared-"
               + std::to_string(number * 11 % SharedImages) + "-2x.png 2x\" alt=\"\"></figure>\n";
        return;
    }
    const std::size_t shared = std::size_t(2 + number % 3);
    if (paragraph % 3 != 0 || paragraph / 3 > shared)
        return;
    out += "<img src=\"" + sharedImagePath(number * 7 + int(paragraph) * 13) + "\" alt=\"\">\n";
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
            if (k % 20 == 5)
                links.push_back("#top");
            else if (site.rich)
                links.push_back(internalPagePath(internal(k)) + "#" + richFragment(base, k));
            else
                links.push_back(internalPagePath(internal(k)) + "#section-2");
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

    std::string html = head("Page " + std::to_string(number), site.rich);
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
        if (site.rich)
            appendImages(html, number, p);
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
    html += "</article></main>\n<footer><p>";
    if (site.rich)
        html += "<a name=\"notes\"></a>";
    html += "Published by the site team. Last updated on the first of the month.</p></footer>\n"
            "</body>\n</html>\n";
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

std::optional<SiteResource> resource(const SiteShape &site, std::string_view path)
{
    if (!site.rich)
        return std::nullopt;
    if (path == StylesheetPath) {
        return SiteResource {200, "text/css",
                             "body{font-family:sans-serif;margin:0 auto;max-width:60em}"
                             "figure{margin:1em 0}img{max-width:100%;height:auto}\n"};
    }
    // The smallest image a browser shows: one transparent pixel.
    static constexpr unsigned char pixelBytes[] = {
            0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
            0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
            0x00, 0x1f, 0x15, 0xc4, 0x89, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x44, 0x41, 0x54, 0x78,
            0x9c, 0x63, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x01, 0x0d, 0x0a, 0x2d, 0xb4, 0x00,
            0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    static const std::string pixel(std::begin(pixelBytes), std::end(pixelBytes));
    const auto numberAfter = [&](std::string_view prefix, std::string_view suffix) {
        if (!path.starts_with(prefix) || !path.ends_with(suffix))
            return -1;
        const std::string_view digits =
                path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
        int number = -1;
        const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), number);
        return error == std::errc() && end == digits.data() + digits.size() ? number : -1;
    };
    const auto image = [&](bool missing) {
        return missing ? SiteResource {404, "text/plain", "not found\n"}
                       : SiteResource {200, "image/png", pixel};
    };
    if (const int k = numberAfter("/img/shared-", "-2x.png"); k >= 0 && k < SharedImages)
        return image(false);
    if (const int k = numberAfter("/img/shared-", ".png"); k >= 0 && k < SharedImages)
        return image(k % 25 == 24);
    if (const int n = numberAfter("/img/page-", ".png"); n >= 1 && n <= site.pages)
        return image(n % 100 == 99);
    return std::nullopt;
}
