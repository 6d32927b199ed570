#include <html/htmldecoding.h>
#include <html/htmllinks.h>
#include <support/hangbound.h>

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <iterator>
#include <thread>

using namespace skarnel;

using namespace std::chrono_literals;

namespace {

const QUrl Page(QStringLiteral("http://example.test/dir/page.html?q=1#top"));

QStringList linksOf(const QByteArray &html, const QByteArray &contentType = "text/html")
{
    return readLinks(html, contentType, Page);
}

// Each address found, after its kind, without the page's folder.
QStringList described(const QList<FoundLink> &links)
{
    static const QString kinds[] = {"page", "image", "style", "script", "frame", "media", "other"};
    const QString folder = QStringLiteral("http://example.test/dir/");
    QStringList described;
    for (const FoundLink &link : links) {
        const QString address =
                link.address.startsWith(folder) ? link.address.sliced(folder.size()) : link.address;
        described += kinds[int(link.kind)] + u' ' + address;
    }
    return described;
}

QStringList resourcesOf(const QByteArray &html)
{
    const PageReading reading = readPage(html, "text/html", Page, {.resources = true});
    return reading.complete ? described(reading.links) : QStringList {"incomplete"};
}

} // namespace

class HtmlLinksTest final : public QObject
{
    Q_OBJECT

private slots:
    void resolution_data();
    void resolution();
    void links_baseHrefHonoured_data();
    void links_baseHrefHonoured();
    void links_whichElementsCount_data();
    void links_whichElementsCount();
    void links_deepNestingRead();
    void links_parseOverBudgetGivesNone();
    void links_pagesParsedTogetherShareTheMemoryBudget();
    void links_charset_data();
    void links_charset();
    void text_charset_data();
    void text_charset();
    void contentType_isHtml_data();
    void contentType_isHtml();
    void links_arbitraryBytesRead();
    void resources_whichElementsCount_data();
    void resources_whichElementsCount();
    void resources_srcsetCandidates_data();
    void resources_srcsetCandidates();
    void anchors_whichNamesCount_data();
    void anchors_whichNamesCount();
    void page_largeAttributesAndManyNamesRead();
    void page_stoppedParseGivesNothing_data();
    void page_stoppedParseGivesNothing();
};

void HtmlLinksTest::resolution_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QByteArray>("href");
    QTest::addColumn<QString>("link");

    const QString page = Page.toString();
    QTest::newRow("relative path")
            << page << QByteArray("other.html") << "http://example.test/dir/other.html";
    QTest::newRow("parent folder")
            << page << QByteArray("../up.html") << "http://example.test/up.html";
    QTest::newRow("dot segments") << page << QByteArray("./a/./b/../c.html")
                                  << "http://example.test/dir/a/c.html";
    QTest::newRow("encoded dot segments")
            << page << QByteArray("%2e%2E/x.html") << "http://example.test/x.html";
    QTest::newRow("above the root") << page << QByteArray("/../../x") << "http://example.test/x";
    QTest::newRow("from the root")
            << page << QByteArray("/root.html") << "http://example.test/root.html";
    QTest::newRow("from the scheme")
            << page << QByteArray("//Other.Test/x") << "http://other.test/x";
    QTest::newRow("absolute") << page << QByteArray("https://www.example.org/a?b=c")
                              << "https://www.example.org/a?b=c";
    QTest::newRow("https page") << "https://example.test:8443/a/b" << QByteArray("c")
                                << "https://example.test:8443/a/c";
    QTest::newRow("capitals in scheme and host")
            << page << QByteArray("HTTP://WWW.Example.ORG/Path") << "http://www.example.org/Path";
    QTest::newRow("default http port")
            << page << QByteArray("http://example.org:80/a") << "http://example.org/a";
    QTest::newRow("default https port")
            << page << QByteArray("https://example.org:443/a") << "https://example.org/a";
    QTest::newRow("default port of the page")
            << "http://example.test:80/dir/" << QByteArray("a") << "http://example.test/dir/a";
    QTest::newRow("other port") << page << QByteArray("http://example.org:8080/a")
                                << "http://example.org:8080/a";
    QTest::newRow("https port on http")
            << page << QByteArray("http://example.org:443/") << "http://example.org:443/";
    QTest::newRow("empty path") << page << QByteArray("http://example.org")
                                << "http://example.org/";
    QTest::newRow("empty path with query")
            << page << QByteArray("https://example.org?x=1") << "https://example.org/?x=1";
    QTest::newRow("empty href") << page << QByteArray("")
                                << "http://example.test/dir/page.html?q=1";
    QTest::newRow("fragment only")
            << page << QByteArray("#section") << "http://example.test/dir/page.html?q=1#section";
    QTest::newRow("query only") << page << QByteArray("?x=2")
                                << "http://example.test/dir/page.html?x=2";
    QTest::newRow("fragment as written") << page << QByteArray("p.html#a/b?c#d%20e")
                                         << "http://example.test/dir/p.html#a/b?c#d%20e";
    QTest::newRow("space in fragment")
            << page << QByteArray("#a b") << "http://example.test/dir/page.html?q=1#a%20b";
    QTest::newRow("query as written") << page << QByteArray("s?q=a/b?c&amp;d=%2F")
                                      << "http://example.test/dir/s?q=a/b?c&d=%2F";
    QTest::newRow("quote in query")
            << page << QByteArray("s?q='a'") << "http://example.test/dir/s?q=%27a%27";
    QTest::newRow("space in path")
            << page << QByteArray("a b.html") << "http://example.test/dir/a%20b.html";
    QTest::newRow("non-ASCII path")
            << page << QByteArray("caf\xc3\xa9.html") << "http://example.test/dir/caf%C3%A9.html";
    QTest::newRow("non-ASCII query")
            << page << QByteArray("s?q=\xc3\xa9") << "http://example.test/dir/s?q=%C3%A9";
    QTest::newRow("non-ASCII host") << page
                                    << QByteArray("http://b\xc3\xbc"
                                                  "cher.example/")
                                    << "http://xn--bcher-kva.example/";
    QTest::newRow("entity in attribute")
            << page << QByteArray("a.html?x=1&amp;y=2") << "http://example.test/dir/a.html?x=1&y=2";
    QTest::newRow("whitespace around")
            << page << QByteArray("  \t\n other.html \r\n") << "http://example.test/dir/other.html";
    QTest::newRow("newline inside")
            << page << QByteArray("oth\ner.html") << "http://example.test/dir/other.html";
    QTest::newRow("backslashes") << page << QByteArray("..\\up\\x.html")
                                 << "http://example.test/up/x.html";
    QTest::newRow("own scheme without slashes")
            << page << QByteArray("http:x.html") << "http://example.test/dir/x.html";
    QTest::newRow("other scheme without slashes")
            << page << QByteArray("https:example.org/a") << "https://example.org/a";
    QTest::newRow("user and password")
            << page << QByteArray("http://user:pw@Example.org/") << "http://user:pw@example.org/";
    QTest::newRow("mail kept") << page << QByteArray("mailto:Someone@Example.TEST?subject=Hi there")
                               << "mailto:Someone@Example.TEST?subject=Hi there";
    QTest::newRow("script kept") << page << QByteArray("javascript:alert('a b')")
                                 << "javascript:alert('a b')";
    QTest::newRow("scheme in capitals kept, lowered")
            << page << QByteArray("MAILTO:x@y.test") << "mailto:x@y.test";
    QTest::newRow("file transfer kept") << page << QByteArray("ftp://Files.Example.test/a/../b")
                                        << "ftp://Files.Example.test/a/../b";
    QTest::newRow("telephone kept") << page << QByteArray(" tel:+1 555 0100 ") << "tel:+1 555 0100";
    QTest::newRow("space in host")
            << page << QByteArray("http://exa mple.org/") << "http://exa mple.org/";
    QTest::newRow("port out of range")
            << page << QByteArray("http://example.org:99999/") << "http://example.org:99999/";
    QTest::newRow("no host") << page << QByteArray("http://") << "http://";
    QTest::newRow("unclosed address bracket")
            << page << QByteArray("http://[::1/") << "http://[::1/";
}

void HtmlLinksTest::resolution()
{
    QFETCH(QString, base);
    QFETCH(QByteArray, href);
    QFETCH(QString, link);
    const QByteArray html = "<!doctype html><p><a href=\"" + href + "\">link</a>";
    QCOMPARE(readLinks(html, "text/html", QUrl(base)), QStringList {link});
}

void HtmlLinksTest::links_baseHrefHonoured_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QStringList>("links");

    QTest::newRow("absolute base")
            << QByteArray("<base href='http://cdn.test/assets/'><a href='x.html'></a>")
            << QStringList {"http://cdn.test/assets/x.html"};
    QTest::newRow("relative base, resolved against the page")
            << QByteArray("<base href='/sub/'><a href='x.html'></a>")
            << QStringList {"http://example.test/sub/x.html"};
    QTest::newRow("base after the link")
            << QByteArray("<body><a href='x.html'></a><base href='/sub/'>")
            << QStringList {"http://example.test/sub/x.html"};
    QTest::newRow("first base counts")
            << QByteArray("<base href='/one/'><base href='/two/'><a href='x.html'></a>")
            << QStringList {"http://example.test/one/x.html"};
    QTest::newRow("base without href passed over")
            << QByteArray("<base target='_blank'><base href='/two/'><a href='x.html'></a>")
            << QStringList {"http://example.test/two/x.html"};
    QTest::newRow("base of another scheme ignored")
            << QByteArray("<base href='javascript:void(0)'><a href='x.html'></a>")
            << QStringList {"http://example.test/dir/x.html"};
    QTest::newRow("fragment against the base")
            << QByteArray("<base href='http://cdn.test/a.html?v=2'><a href='#top'></a>")
            << QStringList {"http://cdn.test/a.html?v=2#top"};
    // Found by fuzzing: a base that parses as a web address without a host made every relative
    // link, and an empty href, come out as written (an empty href as an empty link).
    QTest::newRow("base without a host ignored")
            << QByteArray("<base href='http:///sub</.'><a href='x.html'></a><a href=''></a>")
            << QStringList {"http://example.test/dir/x.html",
                            "http://example.test/dir/page.html?q=1"};
    QTest::newRow("base with one slash and no host ignored")
            << QByteArray("<base href='https:/q=1f.'><area href><a href='?x'></a>")
            << QStringList {"http://example.test/dir/page.html?q=1",
                            "http://example.test/dir/page.html?x"};
}

void HtmlLinksTest::links_baseHrefHonoured()
{
    QFETCH(QByteArray, html);
    QFETCH(QStringList, links);
    QCOMPARE(linksOf(html), links);
}

void HtmlLinksTest::links_whichElementsCount_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QStringList>("links");

    const auto at = [](const QString &path) { return "http://example.test/dir/" + path; };
    QTest::newRow("area") << QByteArray("<map><area href='a.html'></map>")
                          << QStringList {at("a.html")};
    QTest::newRow("a without href")
            << QByteArray("<a name='x'>x</a><a href='y.html'>y</a>") << QStringList {at("y.html")};
    QTest::newRow("document order")
            << QByteArray("<div><a href='1'></a><p><map><area href='2'></map><a href='3'></a></div>"
                          "<a href='4'>")
            << QStringList {at("1"), at("2"), at("3"), at("4")};
    QTest::newRow("repeated links")
            << QByteArray("<a href='x'></a><a href='x'></a>") << QStringList {at("x"), at("x")};
    QTest::newRow("tags in capitals")
            << QByteArray("<A HREF='x.html'>x</A>") << QStringList {at("x.html")};
    QTest::newRow("unquoted attribute")
            << QByteArray("<a href=x.html>x</a>") << QStringList {at("x.html")};
    QTest::newRow("other elements with addresses") << QByteArray(
            "<link href='s.css'><img src='i.png'><form action='f'></form><iframe src='f.html'>")
                                                   << QStringList {};
    // The parser reopens an unclosed formatting element in the next paragraph, as a browser does.
    QTest::newRow("link reopened by the parser")
            << QByteArray("<p><a href='x'>one<p>two") << QStringList {at("x"), at("x")};
    QTest::newRow("in a comment") << QByteArray("<!-- <a href='c.html'> -->") << QStringList {};
    QTest::newRow("in a script") << QByteArray(
            "<script>document.write('<a href=\"s.html\">')</script>")
                                 << QStringList {};
    QTest::newRow("in a text area")
            << QByteArray("<textarea><a href='t.html'></textarea>") << QStringList {};
    QTest::newRow("in a template")
            << QByteArray("<template><a href='t.html'></a></template><a href='x'>")
            << QStringList {at("x")};
    QTest::newRow("in an svg picture")
            << QByteArray("<svg><a href='s.html'><text>s</text></a></svg>") << QStringList {};
    // Markup among text: the page's text is cut short before it is parsed, which must leave
    // every tag, comment and raw-text element where the parser finds it.
    QTest::newRow("after a lone less-than")
            << QByteArray("<p>1 <3 kisses=<a href='lt'>x</a> and a <3more words</p>")
            << QStringList {at("lt")};
    QTest::newRow("greater-than in quoted values") << QByteArray(
            "<img alt='a > b c'><a title = \"1>\" href = \"one>two three.html\">t</a>")
                                                   << QStringList {at("one%3Etwo%20three.html")};
    QTest::newRow("title ended by a tag with attributes")
            << QByteArray("<title>a <a href='t1'> b</title x='>'>c d<a href='t2'>")
            << QStringList {at("t2")};
    QTest::newRow("text area ended in capitals")
            << QByteArray("<textarea>one </textarea two> <a href='t1'></TEXTAREA x='>'>three four"
                          "<a href='t2'>")
            << QStringList {at("t1"), at("t2")};
    QTest::newRow("script among text")
            << QByteArray("<script>var s = \"<a href='s1'>\"; if (a < b) x = 1;</script>one two"
                          "<a href='s2'>x</a>")
            << QStringList {at("s2")};
    QTest::newRow("escaped script")
            << QByteArray("<script>x = 1 <!-- <script> </script> <a href='s1'> --></script>"
                          "<a href='s2'>x</a>")
            << QStringList {at("s2")};
    QTest::newRow("comments ended in unusual ways")
            << QByteArray("<!-- <a href='c1'> --!> <a href='c2'>x</a> <!--> <a href='c3'>y</a> "
                          "<!---> <a href='c4'>z</a> <!-- --- <a href='c5'> ---> <a href='c6'>")
            << QStringList {at("c2"), at("c3"), at("c4"), at("c6")};
    QTest::newRow("doctype and bogus comments")
            << QByteArray("<!DOCTYPE html PUBLIC \"a > b\"><a href='d1'>x</a><? pi > "
                          "<a href='d2'>y</a></ bogus > <a href='d3'>z</a>")
            << QStringList {at("d1"), at("d2"), at("d3")};
    QTest::newRow("no markup") << QByteArray("just text") << QStringList {};
    QTest::newRow("empty page") << QByteArray() << QStringList {};
}

void HtmlLinksTest::links_whichElementsCount()
{
    QFETCH(QByteArray, html);
    QFETCH(QStringList, links);
    QCOMPARE(linksOf(html), links);
}

void HtmlLinksTest::links_deepNestingRead()
{
    constexpr int depth = 100'000;
    QByteArray html = "<!doctype html><body><a href='first.html'></a>";
    html.reserve(html.size() + depth * 6 + 40);
    for (int i = 0; i < depth; ++i)
        html += "<span>";
    html += "<a href='deep.html'>deep</a>";

    QCOMPARE(linksOf(html), QStringList({"http://example.test/dir/first.html",
                                         "http://example.test/dir/deep.html"}));
}

void HtmlLinksTest::links_parseOverBudgetGivesNone()
{
    // Each nested block element makes the parser look through every open element: the whole page
    // would take the parser half a minute.
    QByteArray html = "<!doctype html><body><a href='first.html'></a>";
    for (int i = 0; i < 100'000; ++i)
        html += "<div>";

    QCOMPARE(readLinks(html, "text/html", Page, 100ms), QStringList());
}

// Pages are parsed on several threads under one memory budget. Two pages that each take more than
// half of it, parsed at the same time, are both read whole: the one left short is parsed again once
// the other is done.
void HtmlLinksTest::links_pagesParsedTogetherShareTheMemoryBudget()
{
    constexpr int count = 100'000; // some 110 MiB in the parser
    QByteArray html = "<!doctype html>";
    for (int i = 0; i < count; ++i)
        html += "<a href=x b c d e f g h>";

    QStringList first;
    QStringList second;
    std::thread other([&] { first = readLinks(html, "text/html", Page, 10min); });
    second = readLinks(html, "text/html", Page, 10min);
    other.join();

    QCOMPARE(first.size(), count);
    QCOMPARE(second.size(), count);
}

void HtmlLinksTest::links_charset_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("path");

    const QByteArray cafeLatin = "<a href='caf\xe9.html'>";
    const QByteArray cafeUtf8 = "<a href='caf\xc3\xa9.html'>";
    // "テスト" in Shift_JIS.
    const QByteArray testShiftJis = "<a href='\x83\x65\x83\x58\x83\x67.html'>";

    QTest::newRow("windows-1252 from the header")
            << cafeLatin << QByteArray("text/html; charset=windows-1252") << QString("café.html");
    QTest::newRow("quoted charset") << cafeLatin << QByteArray("text/html;charset=\"Windows-1252\"")
                                    << QString("café.html");
    QTest::newRow("ISO-8859-1 read as windows-1252")
            << QByteArray("<a href='\x93q\x94.html'>")
            << QByteArray("text/html; charset=ISO-8859-1") << QString("“q”.html");
    QTest::newRow("Shift_JIS from meta charset")
            << "<meta charset=\"Shift_JIS\">" + testShiftJis << QByteArray("text/html")
            << QString("テスト.html");
    QTest::newRow("Shift_JIS from meta http-equiv")
            << "<meta http-equiv='Content-Type' content='text/html; charset=shift_jis'>"
                       + testShiftJis
            << QByteArray("text/html") << QString("テスト.html");
    QTest::newRow("header before meta")
            << "<meta charset='Shift_JIS'>" + cafeLatin
            << QByteArray("text/html; charset=windows-1252") << QString("café.html");
    QTest::newRow("byte order mark before header")
            << "\xef\xbb\xbf" + cafeUtf8 << QByteArray("text/html; charset=windows-1252")
            << QString("café.html");
    QTest::newRow("UTF-16 with byte order mark")
            << QByteArray("\xff\xfe")
                       + QByteArray(reinterpret_cast<const char *>(u"<a href='café.html'>"), 40)
            << QByteArray("text/html") << QString("café.html");
    QTest::newRow("meta naming UTF-16 read as UTF-8")
            << "<meta charset='utf-16'>" + cafeUtf8 << QByteArray("text/html")
            << QString("café.html");
    QTest::newRow("nothing declared is UTF-8") << cafeUtf8 << QByteArray() << QString("café.html");
    QTest::newRow("unknown label passed over")
            << "<meta charset='windows-1252'>" + cafeLatin
            << QByteArray("text/html; charset=no-such") << QString("café.html");
    QTest::newRow("invalid UTF-8 replaced")
            << cafeLatin << QByteArray("text/html; charset=utf-8") << QString("caf\uFFFD.html");
}

void HtmlLinksTest::links_charset()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, path);
    const QString link = QUrl("http://example.test/dir/" + path).toString(QUrl::FullyEncoded);
    QCOMPARE(readLinks(body, contentType, Page), QStringList {link});
}

void HtmlLinksTest::text_charset_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("text");

    QTest::newRow("windows-1252") << QByteArray("caf\xe9 \x80")
                                  << QByteArray("text/plain; charset=windows-1252")
                                  << QString("café €");
    QTest::newRow("Shift_JIS") << QByteArray("\x83\x65\x83\x58\x83\x67")
                               << QByteArray("text/plain; charset=Shift_JIS") << QString("テスト");
    QTest::newRow("ISO-8859-2") << QByteArray("\xb1") << QByteArray("text/html; charset=iso-8859-2")
                                << QString("ą");
    QTest::newRow("byte order mark left out")
            << QByteArray("\xef\xbb\xbfok") << QByteArray() << QString("ok");
    QTest::newRow("invalid bytes")
            << QByteArray("a\xff\xc3z") << QByteArray("text/plain") << QString("a\uFFFD\uFFFDz");
}

void HtmlLinksTest::text_charset()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, text);
    QCOMPARE(decodeHtml(body, contentType), text);
}

void HtmlLinksTest::contentType_isHtml_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<bool>("html");

    QTest::newRow("html") << QByteArray("text/html") << true;
    QTest::newRow("html with charset, in capitals")
            << QByteArray(" TEXT/HTML ; charset=UTF-8") << true;
    QTest::newRow("xhtml") << QByteArray("application/xhtml+xml") << true;
    QTest::newRow("plain text") << QByteArray("text/plain") << false;
    QTest::newRow("longer type") << QByteArray("text/htmlx") << false;
    QTest::newRow("picture") << QByteArray("image/png") << false;
    QTest::newRow("none") << QByteArray() << false;
}

void HtmlLinksTest::contentType_isHtml()
{
    QFETCH(QByteArray, contentType);
    QFETCH(bool, html);
    QCOMPARE(isHtmlContentType(contentType), html);
}

// Pages cut at random points and with random bytes thrown in, under every reading. Whatever is
// found is what a browser would report: resolved already (resolving it again changes nothing), with
// its scheme in lower case, free of NUL and of every control character, which the reading drops or
// encodes. Each page is read well within the parse budget.
void HtmlLinksTest::links_arbitraryBytesRead()
{
    const QByteArray pieces[] = {"<a href='x.html'>",
                                 "<area href=y>",
                                 "<base href='/b/'>",
                                 "</a>",
                                 "<p>",
                                 "<table><td>",
                                 "<svg><a href=s>",
                                 "</svg>",
                                 "<template>",
                                 "<!--",
                                 "-->",
                                 "<script>",
                                 "</script>",
                                 "<meta charset=shift_jis>",
                                 "&amp;",
                                 "&#x110000;",
                                 "&#1;",
                                 "\xef\xbb\xbf",
                                 "\xff\xfe",
                                 "\x83",
                                 QByteArray("\x00", 1),
                                 QByteArrayLiteral("<a href='n\x00l\x01\x7f'>"),
                                 "<a href='\x81\x40'>",
                                 "<a href=' \t\r\nsp ace\x1b '>",
                                 "<a href='MAILTO:x@y'>",
                                 "<div>",
                                 "<b><i>",
                                 "</b>",
                                 "<a href='http://[x'>"};
    const QByteArray types[] = {"text/html", "text/html; charset=shift_jis",
                                "text/html; charset=windows-1252", "text/html; charset=utf-16be"};
    const QRegularExpression scheme(QStringLiteral("^[a-z][a-z0-9+.-]*:"));
    QRandomGenerator random(20240601);
    qsizetype found = 0;
    for (int round = 0; round < 500; ++round) {
        QByteArray page;
        const int count = random.bounded(60);
        for (int i = 0; i < count; ++i) {
            if (random.bounded(4) == 0)
                page += char(random.bounded(256));
            else
                page += pieces[random.bounded(int(std::size(pieces)))];
        }
        const QByteArray &type = types[random.bounded(int(std::size(types)))];
        QElapsedTimer took;
        took.start();
        const QStringList links = readLinks(page, type, Page);
        QVERIFY2(took.elapsed() < hangBoundMs(defaultParseBudget), page.toHex().constData());
        found += links.size();
        for (const QString &link : links) {
            const QByteArray why = link.toUtf8().toHex() + " from " + page.toHex();
            QVERIFY2(scheme.match(link).hasMatch(), why.constData());
            QVERIFY2(std::none_of(link.cbegin(), link.cend(),
                                  [](QChar c) { return c < u' ' || c == u'\x7f'; }),
                     why.constData());
            QVERIFY2(resolveHref(link, Page) == link, why.constData());
        }
        decodeHtml(page, type);
    }
    // The pages held links to check.
    QVERIFY2(found > 500, qPrintable(QString::number(found)));
}

void HtmlLinksTest::resources_whichElementsCount_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QStringList>("found");

    QTest::newRow("links are pages") << QByteArray("<a href=p></a><map><area href=q></map>")
                                     << QStringList {"page p", "page q"};
    QTest::newRow("images and pictures")
            << QByteArray(
                       "<img src=i1 srcset='i2 2x'><picture><source src=s1 srcset='s2 1x, s3 2x'>"
                       "<img src=i3></PICTURE><input type=IMAGE src=b1><input src=b2>")
            << QStringList {"image i1", "image i2", "image s1", "image s2",
                            "image s3", "image i3", "image b1"};
    QTest::newRow("video and audio")
            << QByteArray("<video src=v1 poster=v2><source src=v3><track src=v4></video>"
                          "<audio src=a1><source srcset=a2></audio>")
            << QStringList {"media v1", "media v2", "media v3", "media v4", "media a1", "media a2"};
    QTest::newRow("source of nothing")
            << QByteArray("<div><source src=s srcset=t></div>") << QStringList {};
    QTest::newRow("scripts, frames and objects")
            << QByteArray("<script src=j></script><iframe src=f></iframe><object data=o></object>"
                          "<embed src=e>")
            << QStringList {"script j", "frame f", "other o", "other e"};
    QTest::newRow("frame set") << QByteArray("<frameset><frame src=f></frameset>")
                               << QStringList {"frame f"};
    QTest::newRow("style sheets and icons, by their first kind")
            << QByteArray("<link rel='Alternate  StyleSheet' href=s><link rel='shortcut ICON' "
                          "href=i><link rel=apple-touch-icon href=t><link rel='next icon' href=n>")
            << QStringList {"style s", "image i", "image t", "image n"};
    QByteArray otherLinks = "<link rev=made href=made>";
    QStringList others {"other made"};
    for (const char *rel : {"manifest", "preload", "modulepreload", "prefetch", "alternate",
                            "canonical", "author", "help", "license", "next", "prev", "search"}) {
        otherLinks += "<link rel=" + QByteArray(rel) + " href=" + rel + ">";
        others += "other " + QString::fromLatin1(rel);
    }
    QTest::newRow("other rels") << otherLinks << others;
    QTest::newRow("hosts and unknown rels not read")
            << QByteArray("<link rel=preconnect href=//cdn.test><link rel=dns-prefetch "
                          "href=//dns.test><link rel=unknown href=u><link href=n>")
            << QStringList {};
    QTest::newRow("empty resources passed over, an empty link is the page")
            << QByteArray("<img src=''><img src=' \t'><script src></script><iframe src='\n'>"
                          "</iframe><a href=''></a>")
            << QStringList {"page page.html?q=1"};
    QTest::newRow("outside the document")
            << QByteArray("<template><img src=t></template><svg><image href=i /><script src=s>"
                          "</script></svg>")
            << QStringList {};
    QTest::newRow("against the base")
            << QByteArray("<base href='http://cdn.test/'><img src=i><link rel=stylesheet href=s>")
            << QStringList {"image http://cdn.test/i", "style http://cdn.test/s"};
    QTest::newRow("repeats across elements")
            << QByteArray("<img srcset='a 1x, a 2x'><img srcset=a>")
            << QStringList {"image a", "image a"};
}

void HtmlLinksTest::resources_whichElementsCount()
{
    QFETCH(QByteArray, html);
    QFETCH(QStringList, found);
    QCOMPARE(resourcesOf(html), found);
}

void HtmlLinksTest::resources_srcsetCandidates_data()
{
    QTest::addColumn<QByteArray>("srcset");
    QTest::addColumn<QStringList>("addresses");

    QTest::newRow("one address") << QByteArray("a.png") << QStringList {"a.png"};
    QTest::newRow("densities and widths")
            << QByteArray("a.png 1x, b.png 2x,c.png 1.5x , d.png 100w, e.png 200w 50h")
            << QStringList {"a.png", "b.png", "c.png", "d.png", "e.png"};
    QTest::newRow("spaces and commas around")
            << QByteArray(" ,, a.png ,  ,b.png , ") << QStringList {"a.png", "b.png"};
    QTest::newRow("comma inside an address")
            << QByteArray("a,b.png 1x, data:image/gif;base64,R0lG 2x")
            << QStringList {"a,b.png", "data:image/gif;base64,R0lG"};
    QTest::newRow("commas ending an address")
            << QByteArray("a.png,b.png,, c.png") << QStringList {"a.png,b.png", "c.png"};
    QTest::newRow("wrong descriptors passed over")
            << QByteArray("a 1x 2x, b 100w 1x, c 50h, d foo, e 0w, f -1x, g 1e400x, h 1.x, i 2X, "
                          "j 0x, k .5e-2x, l 1e400h")
            << QStringList {"j", "k"};
    QTest::newRow("parentheses hold commas")
            << QByteArray("a.png (x, b.png 1x), c.png") << QStringList {"c.png"};
    QTest::newRow("unclosed parenthesis")
            << QByteArray("a.png 1x, b.png (2x, c.png 1x") << QStringList {"a.png"};
    QTest::newRow("each address once")
            << QByteArray("a.png 1x, a.png 2x, b.png") << QStringList {"a.png", "b.png"};
    QTest::newRow("entities") << QByteArray("a.png?x=1&amp;y=2 1x")
                              << QStringList {"a.png?x=1&y=2"};
    QTest::newRow("nothing") << QByteArray(" \t ") << QStringList {};
}

void HtmlLinksTest::resources_srcsetCandidates()
{
    QFETCH(QByteArray, srcset);
    QFETCH(QStringList, addresses);
    QStringList found = resourcesOf("<img srcset=\"" + srcset + "\">");
    for (QString &address : found)
        address.remove(0, int(qstrlen("image ")));
    QCOMPARE(found, addresses);
}

void HtmlLinksTest::anchors_whichNamesCount_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QStringList>("anchors");

    QTest::newRow("ids of any element")
            << QByteArray("<div id=Top><p id=x><span id=y>z</span></div>")
            << QStringList {"Top", "x", "y"};
    QTest::newRow("names of links") << QByteArray("<a name=one></a><a name=two id=three></a>")
                                    << QStringList {"one", "three", "two"};
    QTest::newRow("names of other elements")
            << QByteArray("<div name=d><form name=f><input name=q><img name=i><map name=m>")
            << QStringList {};
    QTest::newRow("as written") << QByteArray("<p id=Sec><p id=sec><p id='a b'><p id='a&amp;b'>")
                                << QStringList {"Sec", "sec", "a b", "a&b"};
    QTest::newRow("each once") << QByteArray("<p id=x><a name=x></a><p id=x>") << QStringList {"x"};
    QTest::newRow("empty") << QByteArray("<p id=''><a name></a>") << QStringList {};
    QTest::newRow("byte order mark kept") << QByteArray("<a name=\xef\xbb\xbfx></a>")
                                          << QStringList {QChar(0xFEFF) + QString("x")};
    QTest::newRow("in svg") << QByteArray("<svg><g id=g></g><a name=n></a></svg>")
                            << QStringList {"g"};
    QTest::newRow("template") << QByteArray("<template id=t><p id=inner></template>")
                              << QStringList {"t"};
}

void HtmlLinksTest::anchors_whichNamesCount()
{
    QFETCH(QByteArray, html);
    QFETCH(QStringList, anchors);
    const PageReading reading = readPage(html, "text/html", Page, {.anchors = true});
    QVERIFY(reading.complete);
    QCOMPARE(reading.anchors, anchors);
}

// Attributes of megabytes and pages of many names are read in time and memory in proportion to
// their size: the test would hang on anything worse.
void HtmlLinksTest::page_largeAttributesAndManyNamesRead()
{
    constexpr int candidates = 20'000;
    constexpr int names = 200'000;
    constexpr int large = 1 << 20;
    QByteArray html = "<!doctype html><img srcset='";
    for (int i = 0; i < candidates; ++i)
        html += "c" + QByteArray::number(i) + " 1x, ";
    html += "'><img srcset='" + QByteArray("a, ").repeated(large / 2) + " b'>";
    html += "<img srcset='x (" + QByteArray(large, ',') + "'>";
    html += "<img srcset='y 1" + QByteArray(large, '0') + "x, z 0." + QByteArray(large, '0')
            + "1x'>";
    for (int i = 0; i < names; ++i)
        html += "<p id=n" + QByteArray::number(i) + ">";

    const PageReading reading =
            readPage(html, "text/html", Page, {.resources = true, .anchors = true}, 10min);
    QVERIFY(reading.complete);
    const QStringList found = described(reading.links);
    QCOMPARE(found.size(), candidates + 3);
    QCOMPARE(found.first(), "image c0");
    QCOMPARE(found.mid(candidates - 1), QStringList({"image c" + QString::number(candidates - 1),
                                                     "image a", "image b", "image z"}));
    QCOMPARE(reading.anchors.size(), names);
    QCOMPARE(reading.anchors.last(), "n" + QString::number(names - 1));
}

void HtmlLinksTest::page_stoppedParseGivesNothing_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<int>("budgetMs");
    QTest::addColumn<bool>("abandoned");

    const QByteArray start = "<!doctype html><a href=x id=a></a><img src=i>";
    // Each nested block makes the parser look through every open element: half a minute in all.
    QTest::newRow("over its time") << start + QByteArray("<div>").repeated(100'000) << 100 << false;
    QTest::newRow("abandoned") << start + QByteArray("<p>").repeated(10'000) << 600'000 << true;
    // Some 300 MiB in the parser.
    QTest::newRow("over the memory budget")
            << start + QByteArray("<p>").repeated(2'000'000) << 600'000 << false;
}

void HtmlLinksTest::page_stoppedParseGivesNothing()
{
    QFETCH(QByteArray, html);
    QFETCH(int, budgetMs);
    QFETCH(bool, abandoned);
    const std::atomic<bool> abandon = abandoned;
    const PageReading reading =
            readPage(html, "text/html", Page, {.resources = true, .anchors = true},
                     std::chrono::milliseconds(budgetMs), &abandon);
    QVERIFY(!reading.complete);
    QVERIFY(reading.links.isEmpty());
    QVERIFY(reading.anchors.isEmpty());
}

QTEST_APPLESS_MAIN(HtmlLinksTest)
#include "tst_htmllinks.moc"
