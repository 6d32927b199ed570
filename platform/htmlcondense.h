#pragma once

#include <QByteArray>
#include <QByteArrayView>

// `html` (UTF-8) with its running text cut short, for a parser that only looks for elements.
//
// Gumbo spends most of its time on text, one character token at a time, and a page is mostly
// text. Every run of ordinary text characters that the HTML tokenizer reads in its data state is
// replaced by a single "." when it holds anything but white space; white space alone is kept.
// Markup (tags with their attributes, comments, doctypes), the contents of script, style, title,
// textarea and the other raw-text elements, and character references stay byte for byte. The
// tree builder treats a run of text the same whether it is one letter or many, as long as it
// holds something other than white space, so the parse gives the same elements, with the same
// attributes, in the same places; only the text differs.
//
// Where following the tokenizer would take the tree builder's knowledge (foreign content in
// <svg> and <math>, <select>, <template>, <frameset>, <plaintext>, CDATA sections, comments
// inside scripts), the rest of the page is copied as it stands.
QByteArray condenseText(QByteArrayView html);
