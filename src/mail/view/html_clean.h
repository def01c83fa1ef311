// Received HTML made fit to be placed inside a gateway page.
//
// The page is built by re-serialising the mail's markup rather than passing it
// through: every tag that reaches the browser has been tokenised the way an
// HTML5 browser tokenises it, and is written back as a lower-case name and
// double-quoted, escaped attribute values. What the browser sees is therefore
// exactly what was checked.
//
// Neutralised:
// - stop (the rest of the part is shown as escaped source): the words
//   "script", "applet" or "object" anywhere inside a tag; the elements iframe,
//   frame, frameset, embed, svg, math, param, layer, ilayer, xml, import,
//   portal; any attribute whose name begins with "on"; any attribute value
//   that is a javascript:, vbscript:, livescript:, mocha: or data: URL; a URL
//   attribute whose scheme is hidden behind a character reference; a meta
//   element with an http-equiv other than content-type (refresh, set-cookie,
//   ...); style sheets and style attributes that use expression(), behavior,
//   bindings, script URLs, @import, @font-face, image-set(), CSS escapes,
//   url() of a scheme other than http, https or cid, or (in attributes)
//   character references other than the basic ones, or a web url() with a
//   fragment (an element of an SVG document, loaded as a document); style
//   sheets that test attribute values ("[") and load a picture from the web.
// - dropped (the tag goes, its content stays): base, link, other metas, form
//   and its controls, fieldset, details/summary, dialog, media elements,
//   template, noscript, and the elements whose content browsers read as raw
//   text (textarea, xmp, listing, plaintext, noembed, noframes); a title
//   goes with its text;
//   html/head and end tags that close nothing the mail opened, so that the
//   mail can neither close nor absorb the gateway's own page. Comments,
//   doctypes and processing instructions are dropped.
// - attributes outside a presentational allow-list are dropped; href keeps
//   only http, https, ftp, mailto, news and "#" targets (links get
//   rel="noopener noreferrer"); src and background keep http and https and
//   turn cid: into the gateway's attachment URL.
// - NUL and ESC bytes are removed and ISO-2022-JP is brought to Shift_JIS
//   before the scan, so neither can hide a tag from it. Every element the
//   mail opens is closed by name before the part ends, inner ones first,
//   also where one end tag closes several; start tags nested deeper than
//   256 elements are dropped.
#pragma once
#include "page/connection.h"
#include <cstddef>

// Writes html[0..n) to the page cleaned; cid: URLs point into the temp folder
// of c's user. Parts that have to be shown as source go out escaped.
void write_clean_html(Connection& c, const char* html, size_t n);
