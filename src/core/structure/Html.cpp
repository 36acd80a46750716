#include "core/structure/Html.h"

#include "core/structure/Diagram.h"
#include "core/structure/Printable.h"
#include "core/structure/TextSink.h"

#include <QCryptographicHash>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace Structure {

const char *sharedPageStyle()
{
    return R"(
:root { color-scheme: light; --line: #c8ced6; --head: #eef2f7; --accent: #2b5797; --muted: #5d6875; }
* { box-sizing: border-box; }
body { font: 14px/1.45 "Segoe UI", "Liberation Sans", Arial, sans-serif; margin: 0; color: #1d232b; }
header { background: var(--accent); color: #fff; padding: 16px 24px; }
header h1 { margin: 0 0 4px; font-size: 22px; overflow-wrap: anywhere; }
header p { margin: 0; opacity: .9; overflow-wrap: anywhere; }
)";
}

namespace {

const char *const Style = R"(main { display: flex; align-items: flex-start; }
nav { position: sticky; top: 0; flex: none; width: 260px; max-height: 100vh; overflow: auto; padding: 16px;
      border-right: 1px solid var(--line); }
nav input { width: 100%; padding: 6px 8px; border: 1px solid var(--line); border-radius: 4px; }
#found { margin: 2px 0 8px; min-height: 1.45em; font-size: 12px; }
nav ul { list-style: none; padding-left: 0; margin: 0; }
nav ul ul, #results { padding-left: 14px; font-size: 13px; }
nav a { color: var(--accent); text-decoration: none; overflow-wrap: anywhere; }
nav a:hover { text-decoration: underline; }
article { flex: 1; padding: 8px 24px 32px; min-width: 0; }
h2 { margin: 28px 0 8px; padding-bottom: 2px; border-bottom: 2px solid var(--accent); font-size: 20px; }
h3 { margin: 14px 0 4px; font-size: 17px; overflow-wrap: anywhere; }
h4 { margin: 12px 0 4px; font-size: 14px; }
/* Sections off screen are neither laid out nor painted: a page of thousands of tables opens at once. */
section.table, section.query { border-top: 1px solid var(--line); padding-top: 2px;
                               content-visibility: auto; contain-intrinsic-size: auto 400px; }
.wide { overflow-x: auto; }
table.grid { border-collapse: collapse; margin: 8px 0 12px; width: 100%; }
/* Cells keep their words whole (min-content never splits a word); only a cell holding one token
   too long for any column may break it, where the page marks it "long". */
table.grid th, table.grid td { border: 1px solid var(--line); padding: 4px 8px; text-align: left;
                               vertical-align: top; overflow-wrap: break-word; }
table.grid td.long { overflow-wrap: anywhere; }
table.grid th { background: var(--head); font-weight: 600; }
table.fields td:first-child { font-weight: 600; }
.facts { font-size: 13px; }
.facts .k { color: var(--muted); }
.pk, .fk { display: inline-block; margin-left: 6px; padding: 0 5px; border-radius: 3px; font-size: 11px;
           font-weight: 600; line-height: 1.6; vertical-align: 1px; }
.pk { background: #fbe3a1; color: #5c4200; }
a.fk { background: #dce8f8; color: var(--accent); text-decoration: none; }
a.fk:hover { text-decoration: underline; }
ul.links { margin: 4px 0 8px; padding-left: 20px; }
ul.links a { color: var(--accent); }
.ctl { color: var(--muted); font: 12px monospace; }
pre { background: #f6f8fa; border: 1px solid var(--line); padding: 8px 12px; overflow: auto; white-space: pre-wrap; }
.note { background: #fff4e5; border-left: 4px solid #e8a33d; padding: 6px 10px; }
pre.vb .c { color: #2e7d32; } pre.vb .s { color: #a31515; } pre.vb .k { color: #0033b3; }
.muted { color: var(--muted); }
.diagram { overflow: auto; border: 1px solid var(--line); padding: 8px; background: #fff; }
.diagram svg { max-width: none; height: auto; }
footer { margin-top: 16px; padding: 10px 24px; border-top: 1px solid var(--line); color: var(--muted); font-size: 12px; }
[hidden] { display: none !important; }
nav #results, nav.searching > ul { display: none; }
nav.searching #results { display: block; }
/* A section the search leaves out keeps what the browser worked out for it: showing it again is cheap. */
section.gone { content-visibility: hidden; contain-intrinsic-size: 0 0; height: 0; margin: 0; padding: 0; border: 0; }
@media print {
  nav, #search { display: none; }
  main { display: block; }
  header { background: none; color: #000; border-bottom: 2px solid #000; }
  section.table, section.query { content-visibility: visible; }
  section.gone { content-visibility: visible; height: auto; padding-top: 2px; border-top: 1px solid var(--line); }
  .wide { overflow: visible; }
  section.table, table.grid tr { break-inside: avoid; }
  a { color: inherit; text-decoration: none; }
}
)";

// The page's one script. Each table's details are written inside <noscript>: with scripts off the
// browser shows them as they are; with scripts on it keeps them as unparsed text, which this script
// turns into the page's content near the view, then the rest while the browser is idle, all of it
// before printing. It also runs the search box.
const char *const Script = R"(
(function () {
  'use strict';
  var list = function (selector) { return Array.prototype.slice.call(document.querySelectorAll(selector)); };

  var holders = list('noscript.later');
  var next = 0;
  function materialise(holder) {
    if (!holder || !holder.parentNode) return;
    holder.insertAdjacentHTML('afterend', holder.textContent);
    holder.parentNode.removeChild(holder);
  }
  function materialiseIn(section) {
    if (section) materialise(section.querySelector('noscript.later'));
  }
  var begun = Date.now();
  while (next < holders.length && Date.now() - begun < 30) materialise(holders[next++]);
  if (location.hash) materialiseIn(document.getElementById(location.hash.slice(1)));
  window.addEventListener('hashchange', function () {
    materialiseIn(document.getElementById(location.hash.slice(1)));
  });
  window.addEventListener('beforeprint', function () { holders.forEach(materialise); });
  if ('IntersectionObserver' in window) {
    var observer = new IntersectionObserver(function (entries) {
      entries.forEach(function (entry) {
        // A section the search left out stands at no height, in view or not: it waits.
        if (!entry.isIntersecting || entry.target.classList.contains('gone')) return;
        materialiseIn(entry.target);
        observer.unobserve(entry.target);
      });
    }, { rootMargin: '100% 0px' });
    holders.slice(next).forEach(function (holder) { observer.observe(holder.parentNode); });
  }
  var idle = window.requestIdleCallback ? window.requestIdleCallback.bind(window) : function (work) {
    var end = Date.now() + 10;
    return setTimeout(function () { work({ timeRemaining: function () { return end - Date.now(); } }); }, 20);
  };
  function fill(deadline) {
    while (next < holders.length && deadline.timeRemaining() > 2) materialise(holders[next++]);
    if (next < holders.length) idle(fill);
  }
  idle(fill);

  // The search: lower-cased names read once, a class toggled only where the answer changes. While
  // searching, the contents make way for a short list of what matches (hiding thousands of entries
  // one by one would cost the browser far more than the search).
  var nav = document.querySelector('nav');
  var box = document.getElementById('search');
  var found = document.getElementById('found');
  var results = document.getElementById('results');
  var sections = list('section[data-search]');
  var items = {};
  list('nav li > a[href^="#"]').forEach(function (a) { items[a.getAttribute('href').slice(1)] = a.parentNode; });
  var texts = sections.map(function (s) { return s.getAttribute('data-search'); });
  var navItems = sections.map(function (s) { return items[s.id] || null; });
  var shown = sections.map(function () { return true; });
  var listed = 100;
  function filter() {
    var term = box.value.trim().toLowerCase();
    var matches = [];
    for (var i = 0; i < sections.length; i++) {
      var show = !term || texts[i].indexOf(term) >= 0;
      if (show && term) matches.push(i);
      if (show === shown[i]) continue;
      shown[i] = show;
      sections[i].classList.toggle('gone', !show);
    }
    var entries = document.createDocumentFragment();
    matches.slice(0, listed).forEach(function (i) {
      if (navItems[i]) entries.appendChild(navItems[i].cloneNode(true));
    });
    if (matches.length > listed) {
      var more = entries.appendChild(document.createElement('li'));
      more.className = 'muted';
      more.textContent = 'and ' + (matches.length - listed) + ' more';
    }
    results.textContent = '';
    results.appendChild(entries);
    nav.classList.toggle('searching', term !== '');
    found.textContent = term ? matches.length.toLocaleString('en') + ' of ' + sections.length.toLocaleString('en') +
      ' match' : '';
    return matches.length ? matches[0] : -1;
  }
  var timer = 0;
  box.addEventListener('input', function () {
    clearTimeout(timer);
    timer = setTimeout(filter, 150);
  });
  box.addEventListener('keydown', function (event) {
    if (event.key !== 'Enter') return;
    clearTimeout(timer);
    var first = filter();
    if (first >= 0) location.hash = '#' + sections[first].id;
  });
  box.hidden = false;
})();
)";

// How a text from the database is written into the page. Whatever the kind, no character can open
// an element or leave an attribute, and no control character reaches the page raw.
enum class Kind {
    // A name: isolated for bidirectional text; a line break in it shows as its escape.
    Name,
    // A description, a value, a note: its line breaks (CR LF, CR or LF) are line breaks.
    Prose,
    // SQL in a <pre>: its line breaks are new lines.
    Code,
    // An attribute's value: plain text, control characters as their escapes.
    Attribute,
};

// A control character as it is written in C: "\x1b", "\u2028".
QString escapeOf(char16_t u)
{
    if (u > 0xff)
        return QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
    return QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
}

// The line break a control character stands for in text of this kind; empty when it is none.
QStringView lineBreak(QStringView text, qsizetype &i, Kind kind)
{
    const char16_t u = text[i].unicode();
    if (kind != Kind::Prose && kind != Kind::Code)
        return QStringView();
    if (u == u'\r' && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
        ++i;
    else if (u != u'\r' && u != u'\n' && u != 0x2028 && u != 0x2029)
        return QStringView();
    return kind == Kind::Prose ? u"<br>"_sv : u"\n"_sv;
}

template <class Out> void appendControl(Out &out, QStringView text, qsizetype &i, Kind kind)
{
    if (const QStringView brk = lineBreak(text, i, kind); !brk.isEmpty()) {
        out += brk;
    } else if (text[i] == QLatin1Char('\t') && kind != Kind::Name) {
        out += QLatin1Char('\t');
    } else if (kind == Kind::Attribute) {
        out += escapeOf(text[i].unicode());
    } else {
        out += u"<span class=\"ctl\">"_sv;
        out += escapeOf(text[i].unicode());
        out += u"</span>"_sv;
    }
}

// Whether the character is written into the page as it is, whatever the kind of text.
bool isPlain(char16_t u)
{
    // Looked up for ASCII, nearly all of a big database's text.
    static constexpr auto plainAscii = [] {
        std::array<bool, 128> plain{};
        for (char16_t c = 0; c < 0x80; ++c)
            plain[c] = c != u'&' && c != u'<' && c != u'>' && c != u'"' && c != u'\'' && !isControlOrMark(c);
        return plain;
    }();
    return u < 0x80 ? plainAscii[u] : !isControlOrMark(u);
}

template <class Out> void appendText(Out &out, QStringView text, Kind kind)
{
    if (kind == Kind::Name)
        out += u"<bdi>"_sv;
    // Code keeps its tabs and line feeds as they are: they are part of its runs.
    const bool code = kind == Kind::Code;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // Runs of plain characters, nearly all of a big database's text, are copied at once.
        qsizetype run = i;
        while (run < text.size() && (isPlain(text[run].unicode()) ||
                                     (code && (text[run] == QLatin1Char('\n') || text[run] == QLatin1Char('\t')))))
            ++run;
        if (run > i) {
            out += QStringView(text).mid(i, run - i);
            i = run - 1;
            continue;
        }
        const char16_t u = text[i].unicode();
        switch (u) {
        case u'&':
            out += u"&amp;"_sv;
            break;
        case u'<':
            out += u"&lt;"_sv;
            break;
        case u'>':
            out += u"&gt;"_sv;
            break;
        case u'"':
            out += u"&quot;"_sv;
            break;
        case u'\'':
            out += u"&#39;"_sv;
            break;
        default:
            // Direction marks show too: even inside its isolation a name with an override would
            // read as another ("Invoices\u202Etxt.exe" as "Invoicesexe.txt").
            if (isControlOrMark(u))
                appendControl(out, text, i, kind);
            else
                out += text[i];
        }
    }
    if (kind == Kind::Name)
        out += u"</bdi>"_sv;
}

// A name from the database, isolated so that its direction (a right-to-left override in it, say)
// cannot reorder the page around it.
QString name(const QString &text)
{
    QString out;
    out.reserve(text.size() + 16);
    appendText(out, text, Kind::Name);
    return out;
}

QString prose(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    appendText(out, text, Kind::Prose);
    return out;
}

QString attribute(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    appendText(out, text, Kind::Attribute);
    return out;
}

QString names(const QStringList &list)
{
    QStringList written;
    for (const QString &each : list)
        written << name(each);
    return written.join(QStringLiteral(", "));
}

// True when the text holds a run without spaces too long to fit a column of the grid: only such a
// cell may break inside a word.
bool hasLongToken(const QString &text)
{
    constexpr int longest = 32;
    int run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > longest)
            return true;
    }
    return false;
}

// What every part of one page looks up: the anchors, and each table's relationships both ways.
struct Page
{
    explicit Page(const Document &d)
        : document(d), tableAnchors(Structure::tableAnchors(d)), queryAnchors(Structure::queryAnchors(d)), links(d)
    {
        for (int i = 0; i < d.tables.size(); ++i)
            anchorOfTable.insert(nameKey(d.tables[i].name), tableAnchors[i]);
    }

    // A table's name, linked to its section when the page has one (a relationship may name a
    // table that was not exported).
    QString tableLink(const QString &table) const
    {
        const QString anchor = anchorOfTable.value(nameKey(table));
        return anchor.isEmpty() ? name(table)
                                : QStringLiteral("<a href=\"#%1\">").arg(anchor) + name(table) + QStringLiteral("</a>");
    }

    const Document &document;
    const QStringList tableAnchors;
    const QStringList queryAnchors;
    QHash<QString, QString> anchorOfTable;
    const RelationshipIndex links;
};

QString noteOf(const QString &html)
{
    return html.isEmpty() ? QString() : QStringLiteral("<p class=\"note\">") + html + QStringLiteral("</p>\n");
}

// A note about a named part: the name isolated, the note as prose.
QString noteOf(const QString &partName, const QString &note)
{
    return note.isEmpty() ? QString() : noteOf(name(partName) + QStringLiteral(": ") + prose(note));
}

// The type as a user reads it, with its size beside it only where the type has one.
QString typeText(const Field &field)
{
    if (sizeText(field).isEmpty())
        return typeDescription(field);
    return field.multiValued ? typeWithSize(field) + QStringLiteral(", multi-valued") : typeWithSize(field);
}

// A cell of prose; one holding a token too long for any column may break it.
void appendCell(QString &out, const QString &html, bool long_)
{
    out += long_ ? u"<td class=\"long\">"_sv : u"<td>"_sv;
    out += html;
    out += u"</td>"_sv;
}

QString relationshipTraits(const Relationship &r)
{
    QStringList traits{r.enforced ? QStringLiteral("enforced") : QStringLiteral("not enforced"),
                       r.oneToOne ? QStringLiteral("one-to-one") : QStringLiteral("one-to-many")};
    if (r.cascadeUpdates)
        traits << QStringLiteral("cascade updates");
    if (r.cascadeDeletes)
        traits << QStringLiteral("cascade deletes");
    if (r.cascadeNull)
        traits << QStringLiteral("cascade to null");
    if (r.join != Join::Inner)
        traits << joinName(r.join) + QStringLiteral(" join");
    return traits.join(QStringLiteral(", "));
}

// The field's marks: "PK" in the primary key, "FK" with the table it points at.
template <class Out>
void appendFieldMarks(Out &out, const Page &page, const Table &table, const Field &field, bool primary,
                      bool pointsAtOthers)
{
    if (primary)
        out += u"<span class=\"pk\" title=\"Primary key\">PK</span>"_sv;
    const Relationship *r = pointsAtOthers ? page.links.foreignKeyOf(table.name, field.name) : nullptr;
    if (!r)
        return;
    qsizetype at = 0;
    while (at < r->foreignFields.size() && nameKey(r->foreignFields[at]) != nameKey(field.name))
        ++at;
    const QString title = QStringLiteral("Foreign key to ") + r->primaryTable + QLatin1Char('.') +
                          r->primaryFields.value(at) + QStringLiteral(" (relationship ") + r->name + QLatin1Char(')');
    const QString anchor = page.anchorOfTable.value(nameKey(r->primaryTable));
    out += anchor.isEmpty() ? QStringLiteral("<span class=\"fk\"")
                            : QStringLiteral("<a class=\"fk\" href=\"#%1\"").arg(anchor);
    out += u" title=\""_sv;
    out += attribute(title);
    out += u"\">FK &rarr; "_sv;
    out += name(r->primaryTable);
    out += anchor.isEmpty() ? u"</span>"_sv : u"</a>"_sv;
}

// The lines of a field's sheet, "Caption: Customer name" and so on. Returns how many.
template <class Out> int appendFacts(Out &out, const Table &table, const Field &field)
{
    Facts facts;
    fieldFacts(table, field, facts);
    const bool long_ = std::any_of(facts.cbegin(), facts.cend(), [](const Fact &f) { return hasLongToken(f.text); });
    out += long_ ? u"<td class=\"facts long\">"_sv : u"<td class=\"facts\">"_sv;
    for (qsizetype i = 0; i < facts.size(); ++i) {
        out += i > 0 ? u"<br><span class=\"k\">"_sv : u"<span class=\"k\">"_sv;
        appendText(out, facts[i].label, Kind::Prose);
        out += u":</span> "_sv;
        appendText(out, facts[i].text, Kind::Prose);
    }
    out += u"</td>"_sv;
    return int(facts.size());
}

// The field's type, and a calculated field's expression below it.
template <class Out> void appendTypeCell(Out &out, const Field &field)
{
    out += field.expression && hasLongToken(*field.expression) ? u"<td class=\"long\">"_sv : u"<td>"_sv;
    appendText(out, typeText(field), Kind::Prose);
    if (field.expression) {
        out += u"<br><code>"_sv;
        appendText(out, *field.expression, Kind::Prose);
        out += u"</code>"_sv;
    }
    out += u"</td>"_sv;
}

// A table's details and roughly how tall they stand, so that the page's scroll bar is about right
// before they are laid out.
struct Details
{
    QString html;
    int height = 0;
};

// The biggest part of a big database's page: written straight into it.
Details fieldsTable(const Page &page, const Table &table)
{
    Details details;
    QString &out = details.html;
    out = QStringLiteral("<div class=\"wide\"><table class=\"grid fields\"><tr><th>Field</th><th>Type</th>"
                         "<th>Description</th><th>Properties</th></tr>\n");
    QSet<QString> keys;
    for (const QString &key : primaryKeyFields(table))
        keys.insert(nameKey(key));
    // Most tables of a big database have no key or relationship: no field of theirs is looked up.
    const bool pointsAtOthers = !page.links.references(table.name).isEmpty();
    details.height = 48;
    {
        // Room for a usual field's row; it grows when a row needs more.
        Appender grid(out, 200 * table.fields.size());
        for (const Field &field : table.fields) {
            grid += u"<tr><td>"_sv;
            appendText(grid, field.name, Kind::Name);
            appendFieldMarks(grid, page, table, field, !keys.isEmpty() && keys.contains(nameKey(field.name)),
                             pointsAtOthers);
            grid += u"</td>"_sv;
            appendTypeCell(grid, field);
            const QString description = field.description.value_or(QString());
            grid += hasLongToken(description) ? u"<td class=\"long\">"_sv : u"<td>"_sv;
            appendText(grid, description, Kind::Prose);
            grid += u"</td>"_sv;
            const int lines = appendFacts(grid, table, field);
            grid += u"</tr>\n"_sv;
            details.height += 9 + 19 * std::max({1, lines, int(description.size() / 60) + 1});
        }
    }
    out += u"</table></div>\n"_sv;
    for (const Field &field : table.fields)
        out += noteOf(field.name, field.note);
    return details;
}

// "References" (the tables this one points at) and "Referenced by" (the tables pointing at it),
// each line naming the fields on both sides and the relationship.
QString relationshipLinks(const Page &page, const Table &table)
{
    QString out;
    const QList<const Relationship *> references = page.links.references(table.name);
    if (!references.isEmpty()) {
        out += QStringLiteral("<h4>References</h4>\n<ul class=\"links\">\n");
        for (const Relationship *r : references)
            out += QStringLiteral("<li>") + names(r->foreignFields) + QStringLiteral(" &rarr; ") +
                   page.tableLink(r->primaryTable) + QStringLiteral(" (") + names(r->primaryFields) +
                   QStringLiteral(") <span class=\"muted\">&middot; ") + name(r->name) + QStringLiteral(": ") +
                   relationshipTraits(*r) + QStringLiteral("</span></li>\n");
        out += QStringLiteral("</ul>\n");
    }
    const QList<const Relationship *> referencedBy = page.links.referencedBy(table.name);
    if (!referencedBy.isEmpty()) {
        out += QStringLiteral("<h4>Referenced by</h4>\n<ul class=\"links\">\n");
        for (const Relationship *r : referencedBy)
            out += QStringLiteral("<li>") + page.tableLink(r->foreignTable) + QStringLiteral(" (") +
                   names(r->foreignFields) + QStringLiteral(") &rarr; ") + names(r->primaryFields) +
                   QStringLiteral(" <span class=\"muted\">&middot; ") + name(r->name) + QStringLiteral(": ") +
                   relationshipTraits(*r) + QStringLiteral("</span></li>\n");
        out += QStringLiteral("</ul>\n");
    }
    return out;
}

// A flag in a table's column of flags.
QString flag(bool value)
{
    return yesNo(value, No::Blank);
}

QString indexesTable(const Table &table)
{
    if (table.indexes.isEmpty())
        return QString();
    QString out = QStringLiteral("<h4>Keys and indexes</h4>\n<div class=\"wide\"><table class=\"grid\"><tr>"
                                 "<th>Index</th><th>Fields</th><th>Primary key</th><th>Unique</th>"
                                 "<th>Ignore nulls</th><th>Required</th><th>For a relationship</th></tr>\n");
    for (const Index &index : table.indexes) {
        QStringList fields;
        for (const IndexField &field : index.fields)
            fields << name(field.name) + (field.descending ? QStringLiteral(" &darr;") : QString());
        out +=
            QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td><td>%7</td></tr>\n")
                .arg(name(index.name), fields.join(QStringLiteral(", ")), flag(index.primary), flag(index.unique),
                     flag(index.ignoreNulls), flag(index.required), flag(index.foreignKey));
    }
    out += QStringLiteral("</table></div>\n");
    for (const Index &index : table.indexes)
        out += noteOf(index.name, index.note);
    return out;
}

QString propertyList(const Properties &properties)
{
    if (properties.isEmpty())
        return QString();
    QString out = QStringLiteral("<details><summary>Stored properties</summary>\n<div class=\"wide\"><table "
                                 "class=\"grid\"><tr><th>Property</th><th>Value</th></tr>\n");
    for (const auto &[property, text] : properties) {
        out += QStringLiteral("<tr><td>") + name(property) + QStringLiteral("</td>");
        appendCell(out, prose(text), hasLongToken(text));
        out += QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</table></div></details>\n");
}

// What the section shows once the browser needs it: fields, relationships, indexes, properties.
Details tableDetails(const Page &page, const Table &table)
{
    Details details;
    // Without its definition the table's fields and indexes are unknown: no empty grid claims none.
    if (table.definitionRead)
        details = fieldsTable(page, table);
    const QString links = relationshipLinks(page, table);
    details.html += links;
    details.height += 24 * int(links.count(u"<li>"_sv) + 2 * links.count(u"<h4>"_sv));
    if (table.definitionRead && !table.indexes.isEmpty()) {
        details.html += indexesTable(table);
        details.height += 72 + 30 * int(table.indexes.size());
    }
    if (!table.properties.isEmpty()) {
        details.html += propertyList(table.properties);
        details.height += 30;
    }
    // Data macros: per event, Access's XML.
    for (const auto &[event, xml] : table.dataMacros) {
        details.html +=
            QStringLiteral("<details><summary>Data macro ") + name(event) + QStringLiteral("</summary>\n<pre><code>");
        appendText(details.html, xml, Kind::Code);
        details.html += QStringLiteral("</code></pre></details>\n");
        details.height += 30;
    }
    return details;
}

// What the page's search box looks through: the table's name and its fields' names, lower-cased as
// the page's script lower-cases what is typed (toLowerCase), not by the name key.
QString searchText(const Table &table)
{
    QString text = table.name;
    for (const Field &field : table.fields) {
        text += QLatin1Char(' ');
        text += field.name;
    }
    // Lower case goes character by character: the whole lower-cased at once is each name lower-cased.
    // Nearly every name is ASCII, whose lower case is A-Z's alone.
    if (!std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; }))
        return std::move(text).toLower();
    for (QChar &c : text) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(char16_t(c.unicode() + 32));
    }
    return text;
}

void appendTableSection(QString &out, const Page &page, int i)
{
    const Table &table = page.document.tables[i];
    const Details details = tableDetails(page, table);
    // Written piece by piece rather than through arg(): a name holding "%1" stays as it is.
    out += u"<section class=\"table\" id=\""_sv;
    out += page.tableAnchors[i];
    out += u"\" data-search=\""_sv;
    appendText(out, searchText(table), Kind::Attribute);
    out += u"\" style=\"contain-intrinsic-size: auto "_sv;
    out += QString::number(90 + details.height);
    out += u"px\">\n<h3>"_sv;
    appendText(out, table.name, Kind::Name);
    out += u"</h3>\n"_sv;
    if (table.description)
        out += QStringLiteral("<p>") + prose(*table.description) + QStringLiteral("</p>\n");
    out += QStringLiteral("<p class=\"muted\">Records: %1 &middot; Fields: %2</p>\n")
               .arg(table.records ? QString::number(*table.records) : QStringLiteral("not counted"),
                    table.definitionRead ? QString::number(table.fields.size()) : QStringLiteral("not read"));
    if (!table.note.isEmpty())
        out += noteOf(prose(table.note));
    // Shown as they are without scripts; with scripts the page builds them when they are needed.
    if (!details.html.isEmpty()) {
        out += u"<noscript class=\"later\">\n"_sv;
        out += details.html;
        out += u"</noscript>\n"_sv;
    }
    out += u"</section>\n"_sv;
}

QString fileNameOf(const Document &document)
{
    return document.database.path.section(QRegularExpression(QStringLiteral("[/\\\\]")), -1);
}

QString summary(const Document &document)
{
    const QLocale english(QLocale::English);
    const auto count = [&english](qsizetype n, const char *one, const char *many) {
        return english.toString(qint64(n)) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
    };
    return QStringList{count(document.tables.size(), "table", "tables"),
                       count(document.relationships.size(), "relationship", "relationships"),
                       count(document.queries.size(), "query", "queries"),
                       count(document.linkedTables.size(), "linked table", "linked tables")}
        .join(QStringLiteral(" &middot; "));
}

// The policy lets in the page's own script alone, named by its hash: a name that found a way into
// markup still could not run anything.
QString contentSecurityPolicy()
{
    const QByteArray hash = QCryptographicHash::hash(QByteArray(Script), QCryptographicHash::Sha256).toBase64();
    return QStringLiteral("default-src 'none'; style-src 'unsafe-inline'; script-src 'sha256-%1'; img-src data:")
        .arg(QString::fromLatin1(hash));
}

QString pageStart(const Document &document)
{
    const QString fileName = fileNameOf(document);
    // A title holds no markup: the isolating marks of plain text keep the name's direction to itself.
    const QString title = QChar(0x2068) + attribute(fileName) + QChar(0x2069);
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                          "<meta name=\"generator\" content=\"") +
           attribute(generatorName()) + QStringLiteral("\">\n<meta http-equiv=\"Content-Security-Policy\" content=\"") +
           contentSecurityPolicy() + QStringLiteral("\">\n<title>Structure of ") + title +
           QStringLiteral("</title>\n<style>") + QString::fromUtf8(sharedPageStyle()) + QString::fromUtf8(Style) +
           QStringLiteral("</style>\n</head>\n<body>\n<header>\n<h1>Structure of ") + name(fileName) +
           QStringLiteral("</h1>\n<p>") + name(document.database.path) + QStringLiteral(" &middot; ") +
           prose(document.database.format) +
           (document.database.encrypted ? QStringLiteral(" &middot; encrypted or password-protected") : QString()) +
           QStringLiteral("</p>\n<p>") + summary(document) + QStringLiteral("</p>\n</header>\n");
}

QString navList(const QStringList &anchors, const QStringList &titles)
{
    QString out = QStringLiteral("\n<ul>\n");
    for (int i = 0; i < anchors.size(); ++i)
        out += QStringLiteral("<li><a href=\"#%1\">").arg(anchors[i]) + name(titles[i]) + QStringLiteral("</a></li>\n");
    return out + QStringLiteral("</ul>");
}

QString contents(const Page &page)
{
    QStringList tables, queries;
    for (const Table &table : page.document.tables)
        tables << table.name;
    for (const Query &query : page.document.queries)
        queries << query.name;
    // The search box needs the script: hidden until the script shows it.
    return QStringLiteral("<nav>\n<input id=\"search\" type=\"search\" placeholder=\"Find a table, field or query\" "
                          "aria-label=\"Find a table, field or query\" hidden>\n"
                          "<p id=\"found\" class=\"muted\" aria-live=\"polite\"></p>\n<ul id=\"results\"></ul>\n<ul>\n"
                          "<li><a href=\"#diagram\">Diagram</a></li>\n<li><a href=\"#tables\">Tables</a>") +
           navList(page.tableAnchors, tables) +
           QStringLiteral("</li>\n<li><a href=\"#relationships\">Relationships</a></li>\n"
                          "<li><a href=\"#queries\">Queries</a>") +
           (queries.isEmpty() ? QString() : navList(page.queryAnchors, queries)) +
           QStringLiteral("</li>\n<li><a href=\"#linked-tables\">Linked tables</a></li>\n"
                          "<li><a href=\"#application\">Application</a></li>\n") +
           (page.document.migration ? QStringLiteral("<li><a href=\"#migration-notes\">Migration notes</a></li>\n")
                                    : QString()) +
           QStringLiteral("</ul>\n</nav>\n");
}

QString diagramSection(const Document &document, const QStringList &anchors)
{
    QString out = QStringLiteral("<h2 id=\"diagram\">Diagram</h2>\n");
    const DiagramPlan plan = diagramPlan(document);
    const QString summary = diagramSummary(document, plan);
    if (!summary.isEmpty())
        out += QStringLiteral("<p class=\"muted\">") + prose(summary) + QStringLiteral("</p>\n");
    const QString svg = relationshipDiagramSvg(document, plan.drawn, anchors);
    if (!svg.isEmpty())
        out += QStringLiteral("<div class=\"diagram\">\n") + svg + QStringLiteral("\n</div>\n");
    if (svg.startsWith(u"<svg"_sv))
        out += diagramLegendHtml(document, plan.drawn);
    // Without a single relationship, the list would only repeat the contents.
    if (plan.drawn.isEmpty() && plan.leftOut.isEmpty())
        return out;
    return out + unrelatedTablesHtml(document, plan.unrelated, anchors);
}

void tablesSection(TextSink &sink, const Page &page)
{
    QString &out = sink.text();
    out += QStringLiteral("<h2 id=\"tables\">Tables</h2>\n");
    if (page.document.tables.isEmpty())
        out += QStringLiteral("<p class=\"muted\">No user tables.</p>\n");
    for (int i = 0; i < page.document.tables.size(); ++i) {
        appendTableSection(out, page, i);
        sink.flush();
    }
}

QString relationshipsSection(const Page &page)
{
    const QList<Relationship> &relationships = page.document.relationships;
    QString out = QStringLiteral("<h2 id=\"relationships\">Relationships</h2>\n");
    if (relationships.isEmpty())
        return out + QStringLiteral("<p class=\"muted\">None.</p>\n");
    out +=
        QStringLiteral("<div class=\"wide\"><table class=\"grid\"><tr><th>Relationship</th><th>Primary table</th>"
                       "<th>Fields</th><th>Foreign table</th><th>Fields</th><th>Enforced</th><th>Cascade updates</th>"
                       "<th>Cascade deletes</th><th>Cascade to null</th><th>One-to-one</th><th>Join</th></tr>\n");
    for (const Relationship &r : relationships) {
        out += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td><td>%7</td>"
                              "<td>%8</td><td>%9</td>")
                   .arg(name(r.name), page.tableLink(r.primaryTable), names(r.primaryFields),
                        page.tableLink(r.foreignTable), names(r.foreignFields), flag(r.enforced),
                        flag(r.cascadeUpdates), flag(r.cascadeDeletes), flag(r.cascadeNull)) +
               QStringLiteral("<td>") + flag(r.oneToOne) + QStringLiteral("</td><td>") + joinName(r.join) +
               QStringLiteral("</td></tr>\n");
    }
    out += QStringLiteral("</table></div>\n");
    for (const Relationship &r : relationships)
        out += noteOf(r.name, r.note);
    return out;
}

QString queriesSection(const Page &page)
{
    const QList<Query> &queries = page.document.queries;
    QString out = QStringLiteral("<h2 id=\"queries\">Queries</h2>\n");
    if (queries.isEmpty())
        out += QStringLiteral("<p class=\"muted\">None.</p>\n");
    for (int i = 0; i < queries.size(); ++i) {
        const Query &query = queries[i];
        out += QStringLiteral("<section class=\"query\" id=\"%1\" data-search=\"%2\">\n<h3>")
                   .arg(page.queryAnchors[i], attribute(query.name.toLower())) +
               name(query.name) + QStringLiteral("</h3>\n<p class=\"muted\">") + prose(query.type) +
               QStringLiteral("</p>\n");
        if (!query.note.isEmpty())
            out += noteOf(prose(query.note));
        out += QStringLiteral("<pre><code>");
        appendText(out, query.sql, Kind::Code);
        out += QStringLiteral("</code></pre>\n</section>\n");
    }
    return out;
}

// What the migration DDL does not carry over exactly, for the server it was worked out for.
QString migrationSection(const Migration &migration)
{
    QString out = QStringLiteral("<h2 id=\"migration-notes\">Migration notes</h2>\n<p>What the DDL for ") +
                  prose(migrationServer(migration.dialect)) +
                  QStringLiteral(" (<code>--format sql</code>) does not carry over exactly, to check by hand.</p>\n");
    if (migration.notes.isEmpty())
        return out + QStringLiteral("<p class=\"muted\">None: everything is carried over.</p>\n");
    out += QStringLiteral("<div class=\"wide\"><table class=\"grid\"><tr><th>What</th><th>Where</th><th>Why</th>"
                          "</tr>\n");
    for (const MigrationNote &note : migration.notes) {
        out += QStringLiteral("<tr><td>") + prose(note.what) + QStringLiteral("</td><td>") + name(note.where) +
               QStringLiteral("</td>");
        appendCell(out, prose(note.why), hasLongToken(note.why));
        out += QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</table></div>\n");
}

QString linkedTablesSection(const QList<LinkedTable> &links)
{
    QString out = QStringLiteral("<h2 id=\"linked-tables\">Linked tables</h2>\n");
    if (links.isEmpty())
        return out + QStringLiteral("<p class=\"muted\">None.</p>\n");
    out += QStringLiteral("<div class=\"wide\"><table class=\"grid\"><tr><th>Table</th><th>Target</th><th>Source</th>"
                          "</tr>\n");
    for (const LinkedTable &link : links) {
        out += QStringLiteral("<tr><td>") + name(link.name) + QStringLiteral("</td><td>") + name(link.target) +
               QStringLiteral("</td>");
        appendCell(out, prose(link.source), hasLongToken(link.source));
        out += QStringLiteral("</tr>\n");
    }
    out += QStringLiteral("</table></div>\n");
    for (const LinkedTable &link : links)
        out += noteOf(link.name, link.note);
    return out;
}

// VBA's words that the page shows as keywords, in order, for a binary search.
constexpr std::u16string_view kVbKeywords[] = {
    u"and",    u"as",         u"boolean", u"byref",    u"byval",  u"call",       u"case",       u"class",
    u"const",  u"currency",   u"date",    u"declare",  u"dim",    u"do",         u"double",     u"each",
    u"else",   u"elseif",     u"end",     u"enum",     u"error",  u"event",      u"exit",       u"explicit",
    u"false",  u"for",        u"friend",  u"function", u"get",    u"global",     u"gosub",      u"goto",
    u"if",     u"implements", u"in",      u"integer",  u"is",     u"let",        u"lib",        u"long",
    u"loop",   u"me",         u"mod",     u"new",      u"next",   u"not",        u"nothing",    u"null",
    u"object", u"on",         u"option",  u"optional", u"or",     u"paramarray", u"private",    u"property",
    u"public", u"raiseevent", u"redim",   u"resume",   u"return", u"select",     u"set",        u"single",
    u"static", u"step",       u"stop",    u"string",   u"sub",    u"then",       u"to",         u"true",
    u"type",   u"until",      u"variant", u"wend",     u"while",  u"with",       u"withevents", u"xor"};

bool isVbKeyword(QStringView word)
{
    // Where each first letter's keywords start in the list (and the next letter's start).
    static constexpr auto firsts = [] {
        std::array<std::uint8_t, 27> at{};
        std::size_t k = 0;
        for (std::size_t letter = 0; letter <= 26; ++letter) {
            while (k < std::size(kVbKeywords) && std::size_t(kVbKeywords[k][0] - u'a') < letter)
                ++k;
            at[letter] = std::uint8_t(k);
        }
        return at;
    }();
    // Keywords are ASCII and short: the word in lower case in a buffer of its own, then compared
    // with the few keywords of its first letter.
    char16_t lower[16];
    if (word.size() < 2 || word.size() > qsizetype(std::size(lower)))
        return false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char16_t c = word[i].unicode();
        if (c >= 0x80)
            return false;
        lower[i] = c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
    }
    if (lower[0] < u'a' || lower[0] > u'z')
        return false;
    const std::u16string_view text(lower, std::size_t(word.size()));
    const std::size_t letter = std::size_t(lower[0] - u'a');
    for (std::size_t k = firsts[letter]; k < firsts[letter + 1]; ++k)
        if (kVbKeywords[k] == text)
            return true;
    return false;
}

// VBA code with its comments, strings and keywords marked; every piece escaped as code. What is not
// marked is written a run at a time, up to the next marked piece.
template <class Out> void appendVbCode(Out &out, const QString &source)
{
    const QStringView code(source);
    qsizetype plain = 0; // where the code not yet written starts
    const auto marked = [&](QStringView open, qsizetype from, qsizetype to) {
        appendText(out, code.mid(plain, from - plain), Kind::Code);
        out += open;
        appendText(out, code.mid(from, to - from), Kind::Code);
        out += u"</span>"_sv;
        plain = to;
    };
    const auto lineEnd = [&](qsizetype from) {
        const qsizetype end = code.indexOf(u'\n', from);
        return end < 0 ? code.size() : end;
    };
    const auto isWordStart = [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || (c >= 0x80 && QChar(c).isLetter());
    };
    const auto isWordPart = [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
               (c >= 0x80 && QChar(c).isLetterOrNumber());
    };
    qsizetype i = 0;
    while (i < code.size()) {
        const char16_t c = code[i].unicode();
        if (c == u'\'') {
            const qsizetype end = lineEnd(i);
            marked(u"<span class=\"c\">"_sv, i, end);
            i = end;
        } else if (c == u'"') {
            // A string runs to its closing quote; two quotes inside are one.
            qsizetype end = i + 1;
            while (end < code.size() && code[end] != u'\n') {
                if (code[end] == u'"' && !(end + 1 < code.size() && code[end + 1] == u'"')) {
                    ++end;
                    break;
                }
                end += code[end] == u'"' ? 2 : 1;
            }
            marked(u"<span class=\"s\">"_sv, i, end);
            i = end;
        } else if (isWordStart(c)) {
            qsizetype end = i + 1;
            while (end < code.size() && isWordPart(code[end].unicode()))
                ++end;
            const QStringView word = code.mid(i, end - i);
            // "Rem" starts a comment as "'" does.
            const auto lower = [&](qsizetype k) { return char16_t(word[k].unicode() | 0x20); };
            if (word.size() == 3 && lower(0) == u'r' && lower(1) == u'e' && lower(2) == u'm') {
                end = lineEnd(end);
                marked(u"<span class=\"c\">"_sv, i, end);
            } else if (isVbKeyword(word)) {
                marked(u"<span class=\"k\">"_sv, i, end);
            }
            i = end;
        } else {
            ++i;
        }
    }
    appendText(out, code.mid(plain), Kind::Code);
}

QString dateText(const std::optional<QString> &date)
{
    return date ? prose(QString(*date).replace(QLatin1Char('T'), QLatin1Char(' '))) : QString();
}

QString formsTable(const QString &title, const QList<FormOrReport> &items)
{
    QString out = QStringLiteral("<h3>") + title + QStringLiteral("</h3>\n");
    if (items.isEmpty())
        return out + QStringLiteral("<p class=\"muted\">None.</p>\n");
    out += QStringLiteral("<div class=\"wide\"><table class=\"grid\"><tr><th>Name</th><th>Created</th>"
                          "<th>Updated</th><th>Module</th></tr>\n");
    for (const FormOrReport &item : items)
        out += QStringLiteral("<tr><td>") + name(item.name) + QStringLiteral("</td><td>") + dateText(item.created) +
               QStringLiteral("</td><td>") + dateText(item.updated) + QStringLiteral("</td><td>") +
               (item.module ? name(*item.module) : QString()) + QStringLiteral("</td></tr>\n");
    return out + QStringLiteral("</table></div>\n");
}

// Written straight to the page, module by module: the code of a big application is most of it.
void applicationSection(TextSink &sink, const Application &application)
{
    QString &out = sink.text();
    out += QStringLiteral("<h2 id=\"application\">Application</h2>\n");
    if (const auto &project = application.project) {
        out += QStringLiteral("<p>VBA project ") + name(project->name) + QStringLiteral(" <span class=\"muted\">") +
               (project->compiledOnly ? QStringLiteral("compiled only, no source &middot; ") : QString()) +
               QStringLiteral("code page %1</span></p>\n").arg(project->codePage);
        if (!project->references.isEmpty()) {
            out += QStringLiteral("<h4>References</h4>\n<ul class=\"links\">\n");
            for (const Reference &reference : project->references)
                out += QStringLiteral("<li>") + name(reference.name) +
                       (reference.description.isEmpty() ? QString()
                                                        : QStringLiteral(": ") + prose(reference.description)) +
                       (reference.path ? QStringLiteral(" <span class=\"muted\">") + prose(*reference.path) +
                                             QStringLiteral("</span>")
                                       : QString()) +
                       QStringLiteral("</li>\n");
            out += QStringLiteral("</ul>\n");
        }
    } else {
        out += QStringLiteral("<p class=\"muted\">No VBA project.</p>\n");
    }
    out += formsTable(QStringLiteral("Forms"), application.forms);
    out += formsTable(QStringLiteral("Reports"), application.reports);
    out += QStringLiteral("<h3>Macros</h3>\n");
    if (application.macros.isEmpty())
        out += QStringLiteral("<p class=\"muted\">None.</p>\n");
    for (const Macro &macro : application.macros) {
        out += QStringLiteral("<details><summary>") + name(macro.name) + QStringLiteral(" <span class=\"muted\">") +
               dateText(macro.updated) + QStringLiteral("</span></summary>\n");
        if (macro.definition) {
            out += QStringLiteral("<pre><code>");
            appendText(out, *macro.definition, Kind::Code);
            out += QStringLiteral("</code></pre>\n");
        }
        out += noteOf(macro.name, macro.note) + QStringLiteral("</details>\n");
    }
    out += QStringLiteral("<h3>Modules</h3>\n");
    if (application.modules.isEmpty())
        out += QStringLiteral("<p class=\"muted\">None.</p>\n");
    for (const Module &module : application.modules) {
        out += QStringLiteral("<details><summary>") + name(module.name) + QStringLiteral(" <span class=\"muted\">") +
               prose(module.kind) + QStringLiteral(" &middot; %1 lines").arg(module.lines()) +
               (module.updated ? QStringLiteral(" &middot; ") + dateText(module.updated) : QString()) +
               QStringLiteral("</span></summary>\n");
        if (module.source) {
            out += QStringLiteral("<pre class=\"vb\"><code>");
            {
                // Room for the code and its marks, appended piece by piece.
                Appender code(out, 2 * module.source->size());
                appendVbCode(code, *module.source);
            }
            out += QStringLiteral("</code></pre>\n");
        }
        out += noteOf(module.name, module.note) + QStringLiteral("</details>\n");
        sink.flush();
    }
}

} // namespace

QString htmlName(const QString &text)
{
    return name(text);
}

QString htmlAttribute(const QString &text)
{
    return attribute(text);
}

QString htmlProse(const QString &text)
{
    return prose(text);
}

namespace {

void writePage(TextSink &sink, const Document &document)
{
    const Page page(document);
    QString &out = sink.text();
    out += pageStart(document);
    out += u"<main>\n"_sv;
    out += contents(page);
    out += u"<article>\n"_sv;
    for (const QString &text : document.notes)
        out += noteOf(prose(text));
    out += diagramSection(document, page.tableAnchors);
    sink.flush();
    tablesSection(sink, page);
    out += relationshipsSection(page);
    sink.flush();
    out += queriesSection(page);
    sink.flush();
    out += linkedTablesSection(document.linkedTables);
    sink.flush();
    applicationSection(sink, document.application);
    if (document.migration)
        out += migrationSection(*document.migration);
    out += QStringLiteral("</article>\n</main>\n<footer>Written by ") + prose(generatorName()) +
           QStringLiteral("</footer>\n<script>") + QString::fromUtf8(Script) +
           QStringLiteral("</script>\n</body>\n</html>\n");
}

} // namespace

QString toHtml(const Document &document)
{
    qsizetype fields = 0;
    for (const Table &table : document.tables)
        fields += table.fields.size();
    TextSink sink(nullptr, 8192 + 150 * fields);
    writePage(sink, document);
    return sink.take();
}

bool writeHtml(const Document &document, QIODevice &device)
{
    TextSink sink(&device, 0);
    writePage(sink, document);
    return sink.finish();
}

} // namespace Structure
