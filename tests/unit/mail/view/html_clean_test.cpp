#include "mail/view/html_clean.h"
#include "markup_audit.h"
#include "view_fixture.h"

using namespace std::string_literals;

namespace {

class HtmlCleanTest : public ViewTest {
protected:
    std::string Clean(const std::string& html) {
        out.clear();
        write_clean_html(*c, html.data(), html.size());
        return out;
    }
};

TEST_F(HtmlCleanTest, OrdinaryMailKeepsItsLook) {
    const struct {
        std::string html, page;
    } cases[] = {
        {"<p>Hello <b>world</b></p>", "<p>Hello <b>world</b></p>"},
        {"<TABLE BORDER=1 cellpadding='2'><TR><TD>x</TD></TR></TABLE>",
         "<table border=\"1\" cellpadding=\"2\"><tr><td>x</td></tr></table>"},
        {"<a href=\"http://example.com/?a=1&amp;b=2\" target=_blank>x</a>",
         "<a href=\"http://example.com/?a=1&amp;b=2\" target=\"_blank\" rel=\"noopener "
         "noreferrer\">x</a>"},
        {"<a href=\"#top\">t</a><a href=\"page.html\">r</a>",
         "<a href=\"#top\" rel=\"noopener noreferrer\">t</a><a>r</a>"},
        {"<img src=\"http://example.com/p.png\" width=10 alt=\"a > b\">",
         "<img src=\"http://example.com/p.png\" width=\"10\" alt=\"a &gt; b\" "
         "referrerpolicy=\"no-referrer\">"},
        {"<img src=\"x.png\">", "<img referrerpolicy=\"no-referrer\">"},
        {"<img src=\"cid:a%40b\">", "<img src=\"/mail/~taro/a@b\" referrerpolicy=\"no-referrer\">"},
        {"<body background=\"cid:bg@x\" bgcolor=#ffffff>",
         "<body background=\"/mail/~taro/bg@x\" bgcolor=\"#ffffff\">"},
        {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-2022-jp\">",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=shift_jis\">"},
        {"<meta charset=\"ISO-2022-JP\"><meta name=referrer content=unsafe-url>",
         "<meta charset=\"shift_jis\">"},
        {"<html><head><title>News</title><base href=\"http://x/\"></head><body>text", "<body>text"},
        {"<!-- <script>x</script> -->after<!--->a<!---->b<!doctype html>c", "afterabc"},
        {"<div>open <font color=red>x", "<div>open <font color=\"red\">x</font></div>"},
        {"</div></center></pre></body></html>text", "text"},
        {"<style>p { color: red }</style>", "<style>p { color: red }</style>"},
        {"<style type=text/css><!-- /* c */ p { background: url( 'cid:bg@x') } --></style>",
         "<style type=\"text/css\"><!--   p { background: url( '/mail/~taro/bg@x') } --></style>"},
        // A comment leaves a blank: taken out whole, "/" and "*" around it
        // would open a comment that hides the quote making url( string text.
        {"<style>//**/*'*/ p{background:url(/mail/x)} '</style>",
         "<style>/ *'*/ p{background:url(/mail/x)} '</style>"},
        {"<p style='font-family:\"MS Gothic\"'>x</p>",
         "<p style=\"font-family:&quot;MS Gothic&quot;\">x</p>"},
        {"<p style=\"font-family:&quot;A&quot;\">x", "<p style=\"font-family:&quot;A&quot;\">x"},
        {"a < b and c > d <3", "a &lt; b and c > d &lt;3"},
        {"<form action=\"http://x/\"><input name=p><textarea>t</textarea></form>after", "tafter"},
        {"<p>x<p>y<li>z", "<p>x<p>y<li>z</li>"},
        {"<o:p>office</o:p><x y=1 z>", "<o:p>office</o:p><x></x>"},
        // ISO-2022-JP: the pair "$\"" is a kanji, not a quote.
        {"<img alt=\"\x1b$B$\"\x1b(B\" src=http://x/>",
         "<img alt=\"\x82\xa0\" src=\"http://x/\" referrerpolicy=\"no-referrer\">"},
        // A broken two-byte run whose conversion yields a NUL must not end
        // the page inside the value.
        {"<p title=\"\x1b$B\"\x82\x1b(B\" align=left>x", "<p title=\"?\" align=\"left\">x"},
        // A lead byte without its trail byte cannot pair with what follows.
        {"\x81<b>x</b>\x82\xa0", "?<b>x</b>\x82\xa0"},
        {"<b>cut off <a href=\"http://x", "<b>cut off </b>"},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(Clean(t.html), t.page) << t.html;
        EXPECT_EQ(markup_audit::Audit(out), "") << t.html;
    }
}

TEST_F(HtmlCleanTest, HostileMarkupNeverSurvives) {
    const std::string hostile[] = {
        "<script>alert(1)</script>",
        "<SCRIPT SRC=http://x/x.js></SCRIPT>",
        "<ScRiPt>alert(1)</sCrIpT>",
        "<scr<script>ipt>alert(1)</script>",
        "<scr\0ipt>alert(1)</scr\0ipt>"s,
        "<img\0 src=x onerror=alert(1)>"s,
        "<scr\x1b(Bipt>alert(1)</script>",
        "<img src=x onerror=alert(1)>",
        "<IMG SRC=\"x\" ONERROR=\"alert(1)\">",
        "<img src=x\x0conerror=alert(1)>",
        "<img src=\"x\" / onerror=alert(1)>",
        "<div/onclick=alert(1)>x</div>",
        "<a title=\">\" onclick=\"alert(1)\">x</a>",
        "<a href=\"http://x\"onmouseover=\"alert(1)\">x</a>",
        "<body onload=alert(1)>",
        "<details open ontoggle=alert(1)>",
        "<input onfocus=alert(1) autofocus>",
        "<svg onload=alert(1)>",
        "<svg><script>alert(1)</script></svg>",
        "<math><mi xlink:href=\"javascript:alert(1)\">x</mi></math>",
        "<iframe src=\"http://evil/\"></iframe>",
        "<IFRAME SRC=http://evil/>",
        "<frameset><frame src=x></frameset>",
        "<embed src=\"x.swf\">",
        "<object data=\"x\"></object>",
        "<applet code=x></applet>",
        "<a href=\"javascript:alert(1)\">x</a>",
        "<a href=\"JaVaScRiPt:alert(1)\">x</a>",
        "<a href=\" java\tscript:alert(1)\">x</a>",
        "<a href=\"jav&#x61;script:alert(1)\">x</a>",
        "<a href=\"&#106;avascript:alert(1)\">x</a>",
        "<a href=\"java&#09;script:alert(1)\">x</a>",
        "<a href=javascript&colon;alert(1)>x</a>",
        "<a href=\"vbscript:msgbox(1)\">x</a>",
        "<a href=\"data:text/html,<b>x</b>\">x</a>",
        "<img src=\"data:image/svg+xml;base64,PHN2Zz4=\">",
        "<img src=\"jav&#x0D;ascript:alert(1)\">",
        "<table background=\"javascript:alert(1)\">",
        "<base href=\"javascript:alert(1)//\">",
        "<form action=\"javascript:alert(1)\"><input type=submit></form>",
        "<button formaction=\"javascript:alert(1)\">x</button>",
        "<meta http-equiv=\"refresh\" content=\"0;url=http://evil/\">",
        "<META HTTP-EQUIV=REFRESH CONTENT=\"0; URL=javascript:alert(1)\">",
        "<meta http-equiv=\"set-cookie\" content=\"a=b\">",
        "<link rel=stylesheet href=http://evil/x.css>",
        "<link rel=import href=http://evil/x.html>",
        "<style>body{background:url(javascript:alert(1))}</style>",
        "<style>p{width:expression(alert(1))}</style>",
        "<style>p{behavior:url(x.htc)}</style>",
        "<style>@import \"http://evil/x.css\";</style>",
        "<style>p{-moz-binding:url(x.xml#x)}</style>",
        "<style>p{background:u\\72l(javascript:x)}</style>",
        "<style><//**/style><img src=x onerror=alert(1)></style>",
        "<style>p{background:url(data:image/png;base64,AAAA)}</style>",
        "<div style=\"width:expression(alert(1))\">",
        "<div style=\"background:url(&#106;avascript:alert(1))\">",
        "<div style=\"x:expr/**/ession(alert(1))\">",
        "<div style=\"x:expr/\x03**/ession(alert(1))\">",
        "<div style=\"background-image: url(&#1;javascript:alert(1))\">",
        "<p style=\"color:red\" style=\"x:expression(alert(1))\">x</p>",
        "<!--<img src=\"--><img src=x onerror=alert(1)//\">",
        "<noscript><p title=\"</noscript><img src=x onerror=alert(1)>\">",
        "<textarea><img src=x onerror=alert(1)></textarea>",
        "<xmp><img src=x onerror=alert(1)></xmp>",
        "<isindex type=image src=1 onerror=alert(1)>",
        "<img alt=\"\x81\" onerror=alert(1) x=\"\">",
        "<a href=\"\x1b$B\" onclick=alert(1) x=\"\x1b(B\">x</a>",
        "<title></title><script>alert(1)</script>",
        "<img src=x:alert(alt) onerror=eval(src) alt=0>",
        "<a href=\"http://x\"><svg/onload=alert(1)>",
    };
    for (const std::string& html : hostile) {
        const std::string page = Clean(html);
        EXPECT_EQ(markup_audit::Audit(page), "") << html << "\n-> " << page;
    }
}

TEST_F(HtmlCleanTest, StoppedPartShowsTheRestAsSource) {
    EXPECT_EQ(Clean("<div><b>ok</b><img src=x onerror=alert(1)> & more"),
              "<div><b>ok</b></div>&lt;img src=x onerror=alert(1)&gt; &amp; more");
    // The written rule: these words anywhere inside a tag end the markup.
    EXPECT_EQ(Clean("<i>a</i><a href=\"http://x/scripts/\">b</a>"),
              "<i>a</i>&lt;a href=\"http://x/scripts/\"&gt;b&lt;/a&gt;");
}

// What the mail leaves open must be closed in the browser too: an element
// the browser still holds (or reopens, as it does formatting elements) would
// take the gateway's reply form and links after the part into the mail.
TEST_F(HtmlCleanTest, NothingTheMailOpensOutlivesIt) {
    const struct {
        std::string html, page;
    } cases[] = {
        // An end tag that closes a formatting element inside it: the
        // browser keeps the inner one for reopening.
        {"<b><a href=\"http://x/\">x</b>after",
         "<b><a href=\"http://x/\" rel=\"noopener noreferrer\">x</a></b>after"},
        // A table cell is a wall the outer end tag does not pass.
        {"<font><a href=\"http://x/\"><table><tr><td>x</font>y",
         "<font><a href=\"http://x/\" rel=\"noopener "
         "noreferrer\"><table><tr><td>x</td></tr></table>"
         "</a></font>y"},
        // Any heading's end tag closes the innermost heading.
        {"<h1><a><h2></a>z", "<h1><a><h2></h2></a>z</h1>"},
        {"<li><a><table><li>t", "<li><a><table>t</table></a></li>"},
        // A paragraph left open would move out of the <i> at its end tag
        // and keep </x> from closing x: it is closed unless outermost.
        {"<x><i><p>a</i>b", "<x><i><p>a</p></i>b</x>"},
        {"<p>a<b>b", "<p>a<b>b</b>"},
        // To a browser <spacer> holds what follows: it is no void element.
        {"<spacer>x", "<spacer>x</spacer>"},
        // A link inside a link ends the outer one with what it holds, but
        // not across a table cell.
        {"<a><ruby><a><p>x<rt>y", "<a><ruby></ruby></a><a><p>x<rt>y</rt></p></a>"},
        {"<a><table><tr><td><a>x", "<a><table><tr><td><a>x</a></td></tr></table></a>"},
        // Ruby text ends ruby text only inside a ruby.
        {"<rt>a<rt>b", "<rt>a<rt>b</rt></rt>"},
        {"<ruby>a<rt>b<p>c<rt>d</ruby>", "<ruby>a<rt>b<p>c<rt>d</rt></ruby>"},
        // A block closes the paragraph it meets, and all opened inside it,
        // up to a table cell: what stood above it is closed by name, or the
        // browser would open its formatting again after the part.
        {"<p><b>x<div>y</div>z", "<p><b>x</b><div>y</div>z"},
        {"<p><ruby>a<rt>b<p>c", "<p><ruby>a<rt>b</rt></ruby><p>c"},
        {"<p><table><tr><td><i><div>x", "<p><table><tr><td><i><div>x</div></i></td></tr></table>"},
        // Outside a table the browser drops a cell's tag: so does the cleaner.
        {"<p><b><td>x<div>y", "<p><b>x</b><div>y</div>"},
        // A new item ends the open one past formatting, ruby and div, with
        // all they hold, but not past a list or another wall.
        {"<x><dt><ruby><a><p>x<dd>y", "<x><dt><ruby><a><p>x</p></a></ruby><dd>y</dd></x>"},
        {"<li><b><div>a<li>c", "<li><b><div>a</div></b><li>c</li>"},
        {"<li><ul><li>x", "<li><ul><li>x</li></ul></li>"},
        // Outside math, <mtext> is an HTML element like any other: no wall.
        {"<li><mtext><li>x", "<li><mtext></mtext><li>x</li>"},
        {"<p><mtext><div>x", "<p><mtext></mtext><div>x</div>"},
        // Straight inside a table the browser moves an element out in front
        // of the table yet keeps it open, and a table met there ends the
        // table with all of it: such elements lose their tags.
        {"<table><ruby><li>x<rt>y<table><li>z", "<table>xy</table><table>z</table>"},
        {"<table><tr><b>x<td>y", "<table><tr>x<td>y</td></tr></table>"},
        // A cell or caption holds a table of its own.
        {"<table><caption><table>x", "<table><caption><table>x</table></caption></table>"},
        // A table part ends what stands above its place.
        {"<table><tr><td><b>x<td>y", "<table><tr><td><b>x</b></td><td>y</td></tr></table>"},
        {"<table><td><i>a<col><li>b", "<table><td><i>a</i></td><col>b</table>"},
        // Elements the browser closes by themselves do not pile up.
        {"<ul><li>a<li>b</ul>", "<ul><li>a<li>b</li></ul>"},
        {"<table><tr><td>a<td>b<tr><td>c</table>",
         "<table><tr><td>a<td>b<tr><td>c</td></tr></table>"},
    };
    for (const auto& t : cases) EXPECT_EQ(Clean(t.html), t.page) << t.html;

    // Deeper than the cleaner follows, start tags go; the text stays.
    std::string deep;
    for (int i = 0; i < 300; i++) deep += "<div>";
    const std::string page = Clean(deep + "<a href=\"http://x/\">wrap");
    auto count = [&](std::string_view what) {
        size_t n = 0;
        for (size_t at = page.find(what); at != std::string::npos; at = page.find(what, at + 1))
            n++;
        return n;
    };
    EXPECT_EQ(count("<div>"), count("</div>"));
    EXPECT_EQ(count("<a "), count("</a>"));
    EXPECT_NE(page.find("wrap"), std::string::npos);
    // Paragraphs left open one after the other are not nesting.
    std::string paragraphs;
    for (int i = 0; i < 300; i++) paragraphs += "<p>x";
    EXPECT_EQ(Clean(paragraphs + "<b>end"), paragraphs + "<b>end</b>");
}

// Pictures may come from the web; nothing else a style sheet loads may, and
// a sheet that tests attribute values (the gateway's links carry the login)
// may load nothing from the web at all.
TEST_F(HtmlCleanTest, StyleSheetsFetchOnlyPictures) {
    const std::string shownAsSource[] = {
        "<style>@font-face{font-family:f;src:url(http://x/f.woff)}</style>",
        "<style>@FONT-FACE{src:url('https://x/f.ttf')}</style>",
        "<style>a[href*=\"check=\"]{background:url(http://x/leak.png)}</style>",
        "<style>form[action^=\"/mail/\"] { list-style-image: url( \"https://x/l\" ) }</style>",
        "<style>body:has(a[href$=\"7\"]) p{background:url(http://x/7)}</style>",
        // A fragment names an element of an SVG document: a document load.
        "<style>p{clip-path:url(http://x/c.svg#c)}</style>",
    };
    for (const std::string& html : shownAsSource)
        EXPECT_EQ(Clean(html).rfind("&lt;style&gt;", 0), 0u) << html;
    EXPECT_EQ(Clean("<p style=\"marker-start:url('https://x/m.svg#m')\">x"),
              "&lt;p style=\"marker-start:url('https://x/m.svg#m')\"&gt;x");
    const struct {
        std::string html, page;
    } kept[] = {
        {"<style>a[x-apple-data-detectors]{color:inherit}</style>",
         "<style>a[x-apple-data-detectors]{color:inherit}</style>"},
        {"<style>[lang]{background:url(cid:bg@x)}</style>",
         "<style>[lang]{background:url(\"/mail/~taro/bg@x\")}</style>"},
        {"<style>td{background:url(http://x/bg.png)}</style>",
         "<style>td{background:url(http://x/bg.png)}</style>"},
        {"<p style=\"background:url(http://x/bg.png)\">x",
         "<p style=\"background:url(http://x/bg.png)\">x"},
    };
    for (const auto& t : kept) EXPECT_EQ(Clean(t.html), t.page) << t.html;
}

// A Content-ID is percent-decoded into the path it becomes; what it decodes
// to must stay inside its url( ) in whatever form the reference was written.
TEST_F(HtmlCleanTest, CidInStyleStaysOneUrl) {
    const struct {
        std::string html, page;
    } cases[] = {
        {"<p style=\"background:url(cid:x%29%3Bcolor%3Ared)\">",
         "<p style=\"background:url(&quot;/mail/~taro/x%29;color:red&quot;)\">"},
        {"<style>p{background:url('cid:a url(cid:b')}</style>",
         "<style>p{background:url('/mail/~taro/a%20url%28cid:b')}</style>"},
        {"<style>p{background:url(cid:*x)}</style>",
         "<style>p{background:url(\"/mail/~taro/%2Ax\")}</style>"},
        // A url( inside a string is text: nothing to check or to load.
        {"<p style=\"font-family:'url(x)';color:red\">",
         "<p style=\"font-family:'url(x)';color:red\">"},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(Clean(t.html), t.page) << t.html;
        EXPECT_EQ(markup_audit::Audit(out), "") << t.html;
    }
    // A decoded Content-ID that spells a dangerous word; unquoted, a "(" or
    // a quote makes the browser drop the url( ) up to the next ")", past
    // where a check would have ended it.
    for (const std::string html :
         {"<p style=\"background:url(cid:x%29%3Bwidth%3A%65xpression%28alert%281%29%29)\">",
          "<style>p{background:url(cid:a:url(cid:b)}</style>",
          "<p style=\"background:url(http://x/a'b)\">",
          "<style>p{background:url(\x02http://x/a)}</style>",
          "<style>p{background:url('http://x/a\n')}</style>",
          // A string before the url( shifts every quote by one: the browser
          // reads the second url( as the real one.
          "<p style=\"font-family:'a url(' http://ok/ ; background:url(/mail/x)\">",
          "<style>p{font-family:\"a url(\"http://ok/;background:url(/mail/x)}</style>",
          "<p style=\"content:'never closed;background:url(http://x/a)\">"})
        EXPECT_EQ(Clean(html).rfind("&lt;", 0), 0u) << html;
}

TEST_F(HtmlCleanTest, CidReferencesAreRemembered) {
    Clean("<img src=\"cid:one@x\"><table><tr><td background=\"cid:t%77o@x\">");
    EXPECT_EQ(std::string(c->view.cidSeen, c->view.cidSeenLength), "one@x\ntwo@x\n");
}

} // namespace
