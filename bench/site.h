#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The benchmark's site: a start page at "/" that links to `pages` internal pages /page/N.html
// (N from 1), and nothing else, so that a crawl two levels deep loads exactly pages + 1 pages.
//
// Each internal page is ordinary HTML of 20 to 60 KB (head, navigation, headed paragraphs of
// text, footer) holding `linksPerPage` links: links to other internal pages (absolute paths,
// relative paths and whole addresses), links to /deep/N.html pages one level deeper (recorded by
// a crawl, never loaded by it), links with fragments, mailto links and links to the external
// server's /ext/N.html pages. Every /deep page and every /ext page is linked from some page.
//
// A few /deep and /ext pages answer 404 with a "page not found" text, so that a broken-link check
// has something to find. Everything is a pure function of the parameters: two processes that
// build the same site serve the same bytes.
//
// The rich site adds to each internal page what a browser fetches besides links: the one
// stylesheet /style/site.css, two to four images from a shared set of SharedImages, one image of
// its own with a srcset whose 2x candidate is from a shared set too, and an <a name> anchor. Its
// fragment links point at ids and names their pages hold, a few at ones they do not. A few shared
// images and a few pages' own images answer 404.
struct SiteShape
{
    int pages = 1000;
    int linksPerPage = 50;
    int deepPages = 1000; // distinct /deep pages
    int externalPages = 200;
    bool rich = false;
    std::string internalOrigin; // "http://127.0.0.1:PORT"
    std::string externalOrigin; // "http://127.0.0.2:PORT"
};

struct SitePage
{
    int status = 200;
    std::string body;
};

// The Content-Type that every page of the site is served with.
inline constexpr const char *PageContentType = "text/html; charset=utf-8";

// The rich site's resources: /img/shared-K.png and /img/shared-K-2x.png for K below SharedImages,
// /img/page-N.png for internal page N, and StylesheetPath.
inline constexpr int SharedImages = 50;
inline constexpr const char *StylesheetPath = "/style/site.css";

// The answer to a resource's path, or nothing when `path` names none.
struct SiteResource
{
    int status = 200;
    const char *contentType = "image/png";
    std::string body;
};
std::optional<SiteResource> resource(const SiteShape &site, std::string_view path);

// "/page/N.html": the path of internal page `number`.
std::string internalPagePath(int number);

std::string startPage(const SiteShape &site);
std::string internalPage(const SiteShape &site, int number);
SitePage deepPage(const SiteShape &site, int number);
SitePage externalPage(const SiteShape &site, int number);
