// The script of the address-book page. The book lives in the select named
// list while the page is open; keep is the index of the entry taken out for
// editing (-1 when none), so that Back can put it where it was.
#include "mail/book/book_internal.h"

#include "base/text/messages.h"
#include "page/output/output_text.h"
#include "page/output/page_policy.h"

using namespace book;

namespace {

const char kHead[] = "<script language=\"JavaScript\">\r\n<!--\r\n"
                     "var keep = -1;\r\n"
                     // Only the placeholder is listed: one option that is no entry.
                     "function ionly() {\r\n"
                     " var l = document.mail.list;\r\n"
                     " return l.length == 1 && l.options[0].text.indexOf(\"<\") < 0;\r\n"
                     "}\r\n"
                     "function iswap(l, i, j) {\r\n"
                     " var t = l.options[i].text;\r\n"
                     " l.options[i].text = l.options[j].text;\r\n"
                     " l.options[j].text = t;\r\n"
                     " l.options[j].selected = true;\r\n"
                     "}\r\n"
                     "function iup() {\r\n"
                     " var l = document.mail.list;\r\n"
                     " for (var i = 1; i < l.length; i++) if (l.options[i].selected) "
                     "iswap(l, i, i - 1);\r\n"
                     " iback();\r\n"
                     "}\r\n"
                     "function idown() {\r\n"
                     " var l = document.mail.list;\r\n"
                     " for (var i = l.length - 2; i >= 0; i--) if (l.options[i].selected) "
                     "iswap(l, i, i + 1);\r\n"
                     " iback();\r\n"
                     "}\r\n";

// Sorting by address compares «<address> name», keeping each text as it was.
const char kSort[] =
    "function isort(f) {\r\n"
    " var l = document.mail.list, a = new Array(), i, k, t;\r\n"
    " if (ionly()) return;\r\n"
    " for (i = 0; i < l.length; i++) {\r\n"
    "  t = l.options[i].text;\r\n"
    "  k = t.indexOf(\"<\");\r\n"
    "  a[i] = new Array(f == 1 && k >= 0 ? t.substring(k) + \" \" + t.substring(0, k) : t, t);\r\n"
    " }\r\n"
    " a.sort(function (x, y) { return x[0] < y[0] ? -1 : x[0] > y[0] ? 1 : 0; });\r\n"
    " for (i = 0; i < l.length; i++) l.options[i].text = a[i][1];\r\n"
    " iback();\r\n"
    "}\r\n"
    "function iplus() {\r\n"
    " var l = document.mail.list, t = \"\";\r\n"
    " for (var i = 0; i < l.length; i++) t += (i ? \",\" : \"\") + l.options[i].text;\r\n"
    " document.mail.message.value = t;\r\n"
    "}\r\n"
    "function ireset() {\r\n"
    " var l = document.mail.list, b = document.mail.base.value.split(\",\"), i;\r\n"
    " l.length = 0;\r\n"
    " for (i = 0; i < b.length; i++) if (b[i] != \"\") l.options[l.length] = new Option(b[i]);\r\n"
    " if (l.length == 0) l.options[0] = new "
    "Option(\"----------------------------------------\");\r\n"
    " iback();\r\n"
    "}\r\n"
    "function idelete(p) {\r\n"
    " var l = document.mail.list, i = l.selectedIndex;\r\n"
    " if (i >= 0) {\r\n"
    "  if (l.length == 1) {\r\n"
    "   l.options[0].text = \"----------------------------------------\";\r\n"
    "  } else {\r\n"
    "   for (; i < l.length - 1; i++) l.options[i].text = l.options[i + 1].text;\r\n"
    "   l.length = l.length - 1;\r\n"
    "  }\r\n"
    " }\r\n"
    " if (p == -1) iback();\r\n"
    "}\r\n";

const char kAddTail[] =
    " if (ionly()) l.length = 0;\r\n"
    " if (p < 0 || p > l.length) p = l.length;\r\n"
    " l.options[l.length] = new Option(\"\");\r\n"
    " for (i = l.length - 1; i > p; i--) l.options[i].text = l.options[i - 1].text;\r\n"
    " l.options[p].text = (n != \"\" ? n + \" <\" : \"<\") + a + \">\";\r\n"
    " f.book_name.value = \"\";\r\n"
    " f.book_mail_address.value = \"\";\r\n"
    " iback();\r\n"
    "}\r\n"
    "// --></script>\r\n";

} // namespace

void WriteBookScript(Connection& c);

namespace {
[[maybe_unused]] const bool kScriptAllowed = [] {
    register_page_script(WriteBookScript);
    for (const char* call : {"iup()", "idown()", "isort(0)", "isort(1)", "idelete(-1)", "iadd(-1)",
                             "iedit()", "iplus()", "ireset()"})
        register_page_handler(call);
    return true;
}();
} // namespace

void WriteBookScript(Connection& c) {
    const int e = c.english;
    const char* edit = Message(kMsgEdit, e);
    OutputText(c, kHead, 0);
    OutputFormat(c, 0,
                 "function iback() {\r\n"
                 " keep = -1;\r\n"
                 " document.mail.bedit.value = \"%s\";\r\n"
                 "}\r\n",
                 edit);
    OutputFormat(c, 0,
                 "function iedit() {\r\n"
                 " var f = document.mail, l = f.list, i = l.selectedIndex, t, n, a, k;\r\n"
                 " if (f.bedit.value != \"%s\") {\r\n"
                 "  iadd(keep);\r\n"
                 "  return;\r\n"
                 " }\r\n"
                 " if (i < 0 || ionly()) return;\r\n"
                 " t = l.options[i].text;\r\n"
                 " n = \"\";\r\n"
                 " a = t;\r\n"
                 " k = t.indexOf(\" <\");\r\n"
                 " if (k < 0) k = t.indexOf(\"<\");\r\n"
                 " if (k >= 0) {\r\n"
                 "  n = t.substring(0, k);\r\n"
                 "  a = t.substring(t.indexOf(\"<\", k) + 1);\r\n"
                 " }\r\n"
                 " k = a.indexOf(\">\");\r\n"
                 " if (k >= 0) a = a.substring(0, k);\r\n"
                 " f.book_name.value = n;\r\n"
                 " f.book_mail_address.value = a;\r\n"
                 " keep = i;\r\n"
                 " f.bedit.value = \"%s\";\r\n"
                 " idelete(0);\r\n"
                 "}\r\n",
                 edit, Message(kMsgEditBack, e));
    OutputText(c, kSort, 0);
    // The name test covers every character that would break the list text,
    // not only those an address could be mistaken for.
    OutputFormat(
        c, 0,
        "function iadd(p) {\r\n"
        " var f = document.mail, l = f.list, i;\r\n"
        " var n = f.book_name.value, a = f.book_mail_address.value;\r\n"
        " if (a.indexOf(\"@\") < 0 || a.indexOf(\"<\") >= 0 || a.indexOf(\">\") >= 0) {\r\n"
        "  alert(\"%s\");\r\n"
        "  return;\r\n"
        " }\r\n"
        " if (/[<>()@,]/.test(n)) {\r\n"
        "  alert(\"%s\");\r\n"
        "  return;\r\n"
        " }\r\n",
        Message(kMsgEnterAddress, e), Message(kMsgBadName, e));
    OutputText(c, kAddTail, 0);
}
