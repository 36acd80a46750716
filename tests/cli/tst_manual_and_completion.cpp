// The manual pages and the bash completion of strudex-export follow the programs: every option the
// exporter has is documented and completed, the exit statuses the page gives are those the program
// answers with, the settings file and the windows' captions are the ones in the code, and the
// pages render without a warning.

#include "core/Settings.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <algorithm>
#include <map>

namespace {

using Run = TestSupport::ProgramRun;

Run run(const QString &program, const QStringList &arguments, const QString &folder = QString(),
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    return TestSupport::runProgram(program, arguments, folder, QByteArray(), environment);
}

QString sourcePath(const QString &relative)
{
    return QDir(qEnvironmentVariable("STRUDEX_SOURCE_DIR")).filePath(relative);
}

QString exporter()
{
    return QDir(TestSupport::binDir()).filePath(QStringLiteral("strudex-export"));
}

QString manualPage(const QString &name)
{
    return QString::fromUtf8(TestSupport::readFile(sourcePath(QStringLiteral("docs/man/") + name)));
}

QString completionScript()
{
    return sourcePath(QStringLiteral("resources/completion/strudex-export.bash"));
}

// The lines of one section (.SH) of a page, without its heading.
QStringList section(const QString &page, const QString &heading)
{
    QStringList lines;
    bool inside = false;
    for (const QString &line : page.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String(".SH "))) {
            QString name = line.mid(4).trimmed();
            if (name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
                name = name.mid(1, name.size() - 2);
            inside = name == heading;
            continue;
        }
        if (inside)
            lines << line;
    }
    return lines;
}

// An option as troff writes it: every "-" escaped.
QString troffOption(const QString &option)
{
    QString escaped = option;
    return escaped.replace(QLatin1Char('-'), QStringLiteral("\\-"));
}

// The option as a whole word of troff text: "\-\-password" is not found in "\-\-password\-file".
QRegularExpression troffWord(const QString &option)
{
    return QRegularExpression(QStringLiteral("(?<![\\w\\\\-])") + QRegularExpression::escape(troffOption(option)) +
                              QStringLiteral("(?![\\w]|\\\\-)"));
}

// Page text as a reader sees it, for finding captions: escapes replaced by what they print.
QString plainText(QString troff)
{
    static const std::pair<const char *, const char *> escapes[] = {
        {"\\(lq", "\""}, {"\\(rq", "\""}, {"\\(aq", "'"}, {"\\(ti", "~"}, {"\\-", "-"},
        {"\\|", ""},     {"\\&", ""},     {"\\~", " "},   {"\\e", "\\"},
    };
    for (const auto &[from, to] : escapes)
        troff.replace(QLatin1String(from), QLatin1String(to));
    return troff;
}

// The option names of the exporter's --help ("-h", "--help", "--password", ...).
QStringList helpOptions(QString *failure)
{
    const Run help = run(exporter(), {QStringLiteral("--help")});
    if (help.exitCode != 0) {
        *failure = QStringLiteral("strudex-export --help failed: %1").arg(QString::fromLocal8Bit(help.err));
        return {};
    }
    QStringList options;
    bool inOptions = false;
    static const QRegularExpression entry(QStringLiteral("^  (-[A-Za-z0-9](?=[, ]))?(?:, )?(--[a-z0-9-]+)?"));
    for (const QString &line : QString::fromLocal8Bit(help.out).split(QLatin1Char('\n'))) {
        if (line == QLatin1String("Options:")) {
            inOptions = true;
            continue;
        }
        if (inOptions && !line.startsWith(QLatin1Char(' ')))
            inOptions = false;
        if (!inOptions)
            continue;
        const QRegularExpressionMatch match = entry.match(line);
        for (int group : {1, 2}) {
            if (!match.captured(group).isEmpty())
                options << match.captured(group);
        }
    }
    return options;
}

// The bash that asks the completion: a clean shell, reading no start-up file, that sources the
// completion script (after the bash-completion package's helpers, or without them), sets the
// completion variables the way bash does for the line, calls the function registered for
// strudex-export and prints COMPREPLY, one entry per line.
const char *const AskCompletion = R"(
mode=$1; line=$2; shift 2
if [[ $mode == helpers ]]; then
    source "$BASH_COMPLETION_HELPERS" || exit 3
    declare -F _init_completion >/dev/null || exit 4
fi
source "$COMPLETION_SCRIPT" || exit 5
if [[ $mode == alone ]] && declare -F _filedir >/dev/null; then exit 6; fi
COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE=$line; COMP_POINT=${#line}
spec=$(complete -p strudex-export) || exit 7
[[ $spec =~ -F\ ([^ ]+) ]] || exit 8
"${BASH_REMATCH[1]}" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
printf '%s\n' "${COMPREPLY[@]}"
)";

const QString HelpersFile = QStringLiteral("/usr/share/bash-completion/bash_completion");

} // namespace

// The helpers of bash-completion are needed for the mode that uses them: skipped without the
// package, failed where it is required. A macro, since a skip must end the test function itself.
#define NEED_COMPLETION_MODE(mode)                                                                                     \
    do {                                                                                                               \
        if ((mode) == QLatin1String("helpers") && !QFileInfo::exists(HelpersFile))                                     \
            STRUDEX_WITHOUT_FIXTURE("the bash-completion package is not installed (apt-get install bash-completion)"); \
    } while (false)

class ManualAndCompletionTest : public QObject
{
    Q_OBJECT

private:
    QStringList options;
    QTemporaryDir work;

    // COMPREPLY for the words (the last is the one being completed), sorted; the line is the
    // words joined by blanks unless given.
    QStringList complete(const QString &mode, const QStringList &words, QString line = QString())
    {
        if (line.isNull())
            line = words.join(QLatin1Char(' '));
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        environment.insert(QStringLiteral("HOME"), work.path());
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        environment.insert(QStringLiteral("COMPLETION_SCRIPT"), completionScript());
        environment.insert(QStringLiteral("BASH_COMPLETION_HELPERS"), HelpersFile);
        const QStringList arguments = QStringList{QStringLiteral("--norc"),
                                                  QStringLiteral("--noprofile"),
                                                  QStringLiteral("-c"),
                                                  QString::fromLatin1(AskCompletion),
                                                  QStringLiteral("bash"),
                                                  mode,
                                                  line} +
                                      words;
        const Run asked = run(QStringLiteral("bash"), arguments, work.path(), environment);
        if (asked.exitCode != 0)
            qWarning("bash ended with %d: %s", asked.exitCode, asked.err.constData());
        QStringList reply = QString::fromUtf8(asked.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        reply.sort();
        return asked.exitCode == 0 ? reply : QStringList{QStringLiteral("<bash failed>")};
    }

    static void addModes()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("sourced alone") << QStringLiteral("alone");
        QTest::newRow("with bash-completion") << QStringLiteral("helpers");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        QVERIFY2(QFileInfo::exists(exporter()), qPrintable(exporter()));
        QString failure;
        options = helpOptions(&failure);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        // The reading of --help must itself work, or every check below would pass on nothing.
        for (const char *known : {"-h", "--help", "--version", "--password", "--format", "--diff"})
            QVERIFY2(options.contains(QLatin1String(known)), known);
        QVERIFY(!manualPage(QStringLiteral("strudex-export.1")).isEmpty());
        QVERIFY(!manualPage(QStringLiteral("strudex.1")).isEmpty());
        QVERIFY(QFileInfo::exists(completionScript()));
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("bash")).isEmpty(), "bash is needed");
    }

    // Each option of --help has its own entry under OPTIONS; the page names no option the program
    // does not have.
    void everyOptionIsInTheManualPage()
    {
        const QString page = manualPage(QStringLiteral("strudex-export.1"));
        const QStringList described = section(page, QStringLiteral("OPTIONS"));
        QStringList tags;
        for (qsizetype i = 0; i + 1 < described.size(); ++i) {
            if (described[i] == QLatin1String(".TP"))
                tags << described[i + 1];
        }
        for (const QString &option : std::as_const(options)) {
            const QRegularExpression word = troffWord(option);
            const bool hasEntry =
                std::any_of(tags.cbegin(), tags.cend(), [&](const QString &tag) { return word.match(tag).hasMatch(); });
            QVERIFY2(hasEntry, qPrintable(QStringLiteral("%1 has no entry under OPTIONS (as %2) in strudex-export.1")
                                              .arg(option, troffOption(option))));
        }
        static const QRegularExpression anyLong(QStringLiteral("\\\\-\\\\-((?:[a-z0-9]|\\\\-)+)"));
        for (auto it = anyLong.globalMatch(page); it.hasNext();) {
            const QString option =
                QStringLiteral("--") + it.next().captured(1).replace(QStringLiteral("\\-"), QStringLiteral("-"));
            QVERIFY2(options.contains(option),
                     qPrintable(QStringLiteral("strudex-export.1 names %1, which --help does not list").arg(option)));
        }
    }

    // Completing "-" offers exactly the options of --help.
    void everyOptionIsCompleted_data() { addModes(); }
    void everyOptionIsCompleted()
    {
        QFETCH(QString, mode);
        NEED_COMPLETION_MODE(mode);
        QStringList expected = options;
        expected.sort();
        QCOMPARE(complete(mode, {QStringLiteral("strudex-export"), QStringLiteral("-")}), expected);
        QStringList longOnly;
        for (const QString &option : std::as_const(expected)) {
            if (option.startsWith(QLatin1String("--")))
                longOnly << option;
        }
        QCOMPARE(complete(mode, {QStringLiteral("strudex-export"), QStringLiteral("--")}), longOnly);
    }

    // The statuses under EXIT STATUS are the ones the program ends with: each case below is run,
    // its status must be listed (for exporting, or for --diff) with words that fit the case, and
    // every listed status must come up.
    void exitStatusesOfTheManualPageAreTheProgramsOwn()
    {
        // status -> its description, for exporting and for --diff.
        std::map<int, QString> exporting;
        std::map<int, QString> comparing;
        std::map<int, QString> *group = &exporting;
        const QStringList lines =
            section(manualPage(QStringLiteral("strudex-export.1")), QStringLiteral("EXIT STATUS"));
        static const QRegularExpression status(QStringLiteral("^\\.B (\\d+)$"));
        static const QRegularExpression paragraph(QStringLiteral("^\\.(TP|PP|P|LP|IP|SH|SS|RS|RE)\\b"));
        static const QRegularExpression fontMacro(QStringLiteral("^\\.[A-Z]{1,2} "));
        int current = -1;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QString line = lines[i];
            const QRegularExpressionMatch match = status.match(line);
            if (i > 0 && lines[i - 1] == QLatin1String(".TP") && match.hasMatch()) {
                current = match.captured(1).toInt();
                QVERIFY2(!group->contains(current), qPrintable(QStringLiteral("status %1 twice").arg(current)));
                (*group)[current] = QString();
                continue;
            }
            if (paragraph.match(line).hasMatch())
                current = -1;
            else if (current >= 0)
                (*group)[current] += plainText(line.remove(fontMacro)) + QLatin1Char(' ');
            // The statuses of --diff follow the paragraph that introduces them.
            if (current < 0 && line.contains(QLatin1String("\\-\\-diff")))
                group = &comparing;
        }
        QVERIFY2(exporting.size() >= 2, "EXIT STATUS lists no statuses for exporting");
        QVERIFY2(comparing.size() >= 2, "EXIT STATUS lists no statuses for --diff");

        const QString data = TestSupport::dataDir();
        const QString sample = QDir(data).filePath(QStringLiteral("sample.mdb"));
        const QString types = QDir(data).filePath(QStringLiteral("types.mdb"));
        const QString missing = work.filePath(QStringLiteral("missing.mdb"));
        QTemporaryDir out;
        struct Case
        {
            bool diff;
            QStringList arguments;
            const char *words; // what the page must say of the status
        };
        const QList<Case> cases{
            {false, {QStringLiteral("--output"), out.path(), sample}, "success"},
            {false, {QStringLiteral("--list"), sample}, "listed"},
            {false, {missing}, "cannot be found"},
            {false, {QStringLiteral("--output"), work.filePath(QStringLiteral("no-folder")), sample}, "folder"},
            {false, {QStringLiteral("--no-such-option"), sample}, "unknown option"},
            {false, {}, "no DATABASE"},
            {false, {QStringLiteral("--format"), QStringLiteral("xml"), sample}, "unknown format"},
            {false, {QStringLiteral("--table"), QStringLiteral("No Such Table"), sample}, "table"},
            {true, {QStringLiteral("--diff"), sample, sample}, "same"},
            {true, {QStringLiteral("--diff"), sample, types}, "differ"},
            {true, {QStringLiteral("--diff"), sample, missing}, "cannot be found"},
            {true, {QStringLiteral("--diff"), sample}, "not exactly two"},
            {true,
             {QStringLiteral("--diff"), QStringLiteral("--format"), QStringLiteral("html"), sample, sample},
             "format other than"},
        };
        QSet<int> seenExporting;
        QSet<int> seenComparing;
        for (const Case &c : cases) {
            const Run result = run(exporter(), c.arguments, out.path());
            const std::map<int, QString> &listed = c.diff ? comparing : exporting;
            const QString what = QStringLiteral("strudex-export %1").arg(c.arguments.join(QLatin1Char(' ')));
            const auto found = listed.find(result.exitCode);
            QVERIFY2(
                found != listed.end(),
                qPrintable(
                    QStringLiteral("%1 ends with %2, which EXIT STATUS does not list").arg(what).arg(result.exitCode)));
            QVERIFY2(found->second.contains(QLatin1String(c.words), Qt::CaseInsensitive),
                     qPrintable(QStringLiteral("%1 ends with %2, described as \"%3\", which does not say \"%4\"")
                                    .arg(what)
                                    .arg(result.exitCode)
                                    .arg(found->second.simplified(), QLatin1String(c.words))));
            (c.diff ? seenComparing : seenExporting).insert(result.exitCode);
        }
        for (const auto &[code, text] : exporting)
            QVERIFY2(seenExporting.contains(code), qPrintable(QStringLiteral("status %1 never came up").arg(code)));
        for (const auto &[code, text] : comparing)
            QVERIFY2(seenComparing.contains(code),
                     qPrintable(QStringLiteral("--diff status %1 never came up").arg(code)));
    }

    // The desktop program's page names the settings file, its section and its keys as the code
    // has them, and the windows' captions as the forms have them.
    void desktopPageFollowsTheProgram()
    {
        const QString page = manualPage(QStringLiteral("strudex.1"));
        const QString files = plainText(section(page, QStringLiteral("FILES")).join(QLatin1Char('\n')));
        const QString appName = QLatin1String(Settings::AppName);
        for (const QString &path : {QStringLiteral("$XDG_CONFIG_HOME/%1/%1.ini").arg(appName),
                                    QStringLiteral("~/.config/%1/%1.ini").arg(appName)})
            QVERIFY2(files.contains(path), qPrintable(QStringLiteral("FILES does not name %1").arg(path)));
        QVERIFY2(files.contains(QStringLiteral("\"%1\"").arg(QLatin1String(Settings::Section))),
                 "FILES does not name the settings section");
        for (const char *key : {Settings::Database, Settings::Password, Settings::OutputFolder}) {
            const QRegularExpression entry(QStringLiteral("^\\.B ") + QRegularExpression::escape(QLatin1String(key)) +
                                               QLatin1Char('$'),
                                           QRegularExpression::MultilineOption);
            QVERIFY2(entry.match(files).hasMatch(), key);
        }

        // Every caption of the forms' buttons, labels and frames is in the page.
        QStringList captions;
        const QDir gui(sourcePath(QStringLiteral("src/gui")));
        for (const QString &form : gui.entryList({QStringLiteral("*.ui")})) {
            QFile file(gui.filePath(form));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QXmlStreamReader xml(&file);
            QStringList classes;
            QString property;
            while (!xml.atEnd()) {
                xml.readNext();
                if (xml.isStartElement() && xml.name() == QLatin1String("widget"))
                    classes << xml.attributes().value(QLatin1String("class")).toString();
                else if (xml.isEndElement() && xml.name() == QLatin1String("widget"))
                    classes.removeLast();
                else if (xml.isStartElement() && xml.name() == QLatin1String("property"))
                    property = xml.attributes().value(QLatin1String("name")).toString();
                else if (xml.isStartElement() && xml.name() == QLatin1String("string") && !classes.isEmpty()) {
                    const QString text = xml.readElementText();
                    const QString &widget = classes.constLast();
                    const bool captioned = widget == QLatin1String("QPushButton") ||
                                           widget == QLatin1String("QLabel") || widget == QLatin1String("QGroupBox");
                    if ((property == QLatin1String("text") || property == QLatin1String("title")) && captioned)
                        captions << text;
                    if (property == QLatin1String("windowTitle"))
                        captions << text;
                }
            }
            QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        }
        QVERIFY2(captions.size() >= 10, "the forms' captions were not found");
        const QString text = plainText(page);
        for (const QString &caption : std::as_const(captions))
            QVERIFY2(text.contains(caption), qPrintable(QStringLiteral("strudex.1 does not name \"%1\"").arg(caption)));

        // And every control the page describes is one the program has: a caption of a form, or a
        // text the windows' code sets.
        QString guiCode;
        for (const QString &source : gui.entryList({QStringLiteral("*.cpp")}))
            guiCode += QString::fromUtf8(TestSupport::readFile(gui.filePath(source)));
        bool inWindows = false;
        const QStringList lines = page.split(QLatin1Char('\n'));
        static const QRegularExpression quoted(QStringLiteral("\"([^\"]+)\""));
        int described = 0;
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            if (lines[i].startsWith(QLatin1String(".SS ")) || lines[i].startsWith(QLatin1String(".SH ")))
                inWindows = lines[i].contains(QLatin1String("window"));
            if (!inWindows || lines[i] != QLatin1String(".TP"))
                continue;
            for (auto it = quoted.globalMatch(lines[i + 1]); it.hasNext();) {
                const QString control = plainText(it.next().captured(1));
                if (control.trimmed() == QLatin1String(","))
                    continue;
                ++described;
                QVERIFY2(captions.contains(control) || guiCode.contains(QStringLiteral("\"%1\"").arg(control)),
                         qPrintable(QStringLiteral("strudex.1 describes \"%1\", which no window has").arg(control)));
            }
        }
        QVERIFY2(described >= 8, "the page's description of the windows was not found");
    }

    void optionsAndFormatsAreCompleted_data() { addModes(); }
    void optionsAndFormatsAreCompleted()
    {
        QFETCH(QString, mode);
        NEED_COMPLETION_MODE(mode);
        const QString command = QStringLiteral("strudex-export");
        QCOMPARE(complete(mode, {command, QStringLiteral("--form")}), QStringList{QStringLiteral("--format")});
        QCOMPARE(complete(mode, {command, QStringLiteral("--format"), QString()}),
                 (QStringList{QStringLiteral("html"), QStringLiteral("json"), QStringLiteral("markdown"),
                              QStringLiteral("source"), QStringLiteral("sql"), QStringLiteral("text")}));
        QCOMPARE(complete(mode, {command, QStringLiteral("--sql-dialect"), QStringLiteral("m")}),
                 QStringList{QStringLiteral("mysql")});
        QCOMPARE(complete(mode, {command, QStringLiteral("--format"), QStringLiteral("json,m")}),
                 QStringList{QStringLiteral("json,markdown")});
        // A format already in the list is not offered again.
        QCOMPARE(complete(mode, {command, QStringLiteral("--format"), QStringLiteral("json,markdown,")}),
                 (QStringList{QStringLiteral("json,markdown,html"), QStringLiteral("json,markdown,source"),
                              QStringLiteral("json,markdown,sql"), QStringLiteral("json,markdown,text")}));
        // --format=j: bash hands over "=" as a word of its own.
        QCOMPARE(complete(mode, {command, QStringLiteral("--format"), QStringLiteral("="), QStringLiteral("j")},
                          QStringLiteral("strudex-export --format=j")),
                 QStringList{QStringLiteral("json")});
        // --diff prints text, markdown or json only.
        QCOMPARE(complete(mode, {command, QStringLiteral("--diff"), QStringLiteral("--format"), QString()}),
                 (QStringList{QStringLiteral("json"), QStringLiteral("markdown"), QStringLiteral("text")}));
        // A password is never guessed.
        QCOMPARE(complete(mode, {command, QStringLiteral("--password"), QString()}), QStringList{});
    }

    void filesAndFoldersAreCompleted_data() { addModes(); }
    void filesAndFoldersAreCompleted()
    {
        QFETCH(QString, mode);
        NEED_COMPLETION_MODE(mode);
        QTemporaryDir folder(work.filePath(QStringLiteral("files-XXXXXX")));
        QVERIFY(folder.isValid());
        for (const char *name : {"a.mdb", "b.ACCDB", "c.txt", "d.Mdb"}) {
            QFile file(folder.filePath(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("sub")));
        const QString prefix = folder.path() + QLatin1Char('/');
        const QString command = QStringLiteral("strudex-export");
        const auto inFolder = [&](std::initializer_list<const char *> names) {
            QStringList paths;
            for (const char *name : names)
                paths << prefix + QLatin1String(name);
            paths.sort();
            return paths;
        };
        // The database: Access files in any case, and folders to go on looking in.
        QCOMPARE(complete(mode, {command, prefix}), inFolder({"a.mdb", "b.ACCDB", "d.Mdb", "sub"}));
        QCOMPARE(complete(mode, {command, QStringLiteral("--diff"), prefix + QStringLiteral("a.mdb"), prefix}),
                 inFolder({"a.mdb", "b.ACCDB", "d.Mdb", "sub"}));
        // --output: folders only; a password file: any file.
        QCOMPARE(complete(mode, {command, QStringLiteral("--output"), prefix}), inFolder({"sub"}));
        QCOMPARE(complete(mode, {command, QStringLiteral("--password-file"), prefix}),
                 inFolder({"a.mdb", "b.ACCDB", "c.txt", "d.Mdb", "sub"}));
        QCOMPARE(complete(mode, {command, QStringLiteral("--new-password-file"), prefix + QStringLiteral("c")}),
                 inFolder({"c.txt"}));
    }

    // --table offers the tables of the database on the line, as --list names them.
    void tablesAreCompleted_data() { addModes(); }
    void tablesAreCompleted()
    {
        QFETCH(QString, mode);
        NEED_COMPLETION_MODE(mode);
        const QString sample = QDir(TestSupport::dataDir()).filePath(QStringLiteral("sample.mdb"));
        const Run listed = run(exporter(), {QStringLiteral("--list"), sample});
        QCOMPARE(listed.exitCode, 0);
        QStringList tables = QString::fromUtf8(listed.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        tables.sort();
        QVERIFY(tables.size() > 1);
        const auto unescaped = [](QStringList words) {
            for (QString &word : words)
                word.remove(QRegularExpression(QStringLiteral("\\\\(?=.)")));
            words.sort();
            return words;
        };
        QCOMPARE(unescaped(complete(mode, {exporter(), sample, QStringLiteral("--table"), QString()})), tables);
        const QStringList startingWithO = tables.filter(QRegularExpression(QStringLiteral("^O")));
        QVERIFY(!startingWithO.isEmpty());
        QCOMPARE(unescaped(complete(mode, {exporter(), QStringLiteral("--table"), QStringLiteral("x"), sample,
                                           QStringLiteral("--table"), QStringLiteral("O")})),
                 startingWithO);
        // A table name with a blank comes back escaped, ready for the shell.
        QVERIFY(complete(mode, {exporter(), sample, QStringLiteral("--table"), QStringLiteral("Order")})
                    .contains(QStringLiteral("Order\\ Details")));

        // A protected database is listed with the password of the line, handed over on standard
        // input; without it nothing is offered.
        const QString protectedDatabase = QDir(TestSupport::dataDir()).filePath(QStringLiteral("password.mdb"));
        const Run secrets = run(exporter(), {QStringLiteral("--list"), QStringLiteral("--password"),
                                             QStringLiteral("Pa;ss=w0rd"), protectedDatabase});
        QCOMPARE(secrets.exitCode, 0);
        const QStringList secretTables = QString::fromUtf8(secrets.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(complete(mode, {exporter(), QStringLiteral("--password"), QStringLiteral("'Pa;ss=w0rd'"),
                                 protectedDatabase, QStringLiteral("--table"), QString()}),
                 secretTables);
        QCOMPARE(complete(mode, {exporter(), protectedDatabase, QStringLiteral("--table"), QString()}), QStringList{});
        // Completing never runs what is typed.
        const QString marker = work.filePath(QStringLiteral("ran"));
        complete(mode, {exporter(), QStringLiteral("$(touch %1)").arg(marker), QStringLiteral("--table"), QString()});
        complete(mode, {exporter(), QStringLiteral("`touch %1`").arg(marker), QStringLiteral("--table"), QString()});
        QVERIFY(!QFileInfo::exists(marker));
    }

    // Both pages render without a single warning, as lintian renders them.
    void pagesRenderWithoutWarnings_data()
    {
        QTest::addColumn<QString>("page");
        QTest::newRow("strudex-export.1") << QStringLiteral("strudex-export.1");
        QTest::newRow("strudex.1") << QStringLiteral("strudex.1");
    }
    void pagesRenderWithoutWarnings()
    {
        QFETCH(QString, page);
        const QString path = sourcePath(QStringLiteral("docs/man/") + page);
        if (QStandardPaths::findExecutable(QStringLiteral("groff")).isEmpty())
            STRUDEX_WITHOUT_FIXTURE(
                "groff is not installed (apt-get install groff-base): the pages cannot be rendered");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        const Run groff =
            run(QStringLiteral("groff"),
                {QStringLiteral("-man"), QStringLiteral("-Tutf8"), QStringLiteral("-ww"), QStringLiteral("-z"), path},
                QString(), environment);
        QCOMPARE(groff.exitCode, 0);
        QVERIFY2(groff.err.isEmpty() && groff.out.isEmpty(), (groff.err + groff.out).constData());
        // The page as text: the headings are there, and nothing shows a raw request.
        const Run text = run(QStringLiteral("groff"),
                             {QStringLiteral("-man"), QStringLiteral("-Tutf8"), QStringLiteral("-P-cbou"), path},
                             QString(), environment);
        QCOMPARE(text.exitCode, 0);
        const QString rendered = QString::fromUtf8(text.out);
        for (const char *heading : {"NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "FILES", "SEE ALSO"})
            QVERIFY2(rendered.contains(QLatin1String("\n") + QLatin1String(heading) + QLatin1String("\n")), heading);
        QVERIFY2(!rendered.contains(QRegularExpression(
                     QStringLiteral("^\\s*\\.(TH|SH|SS|TP|PP|IP|RS|RE|EX|EE|B|I|BR|BI|IB|IR|RB|RI|br|nh|ad)\\b"),
                     QRegularExpression::MultilineOption)),
                 "a request shows as text");
        QVERIFY(rendered.contains(QStringLiteral("Strudex 1.0.0")));

        if (!QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty()) {
            QProcessEnvironment man = environment;
            man.insert(QStringLiteral("MANROFFSEQ"), QString());
            man.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
            const Run checked = run(QStringLiteral("man"),
                                    {QStringLiteral("--warnings"), QStringLiteral("-E"), QStringLiteral("UTF-8"),
                                     QStringLiteral("-l"), QStringLiteral("-Tutf8"), QStringLiteral("-Z"), path},
                                    QString(), man);
            QCOMPARE(checked.exitCode, 0);
            QVERIFY2(checked.err.isEmpty(), checked.err.constData());
        }
        // The NAME line is what whatis and apropos show.
        if (!QStandardPaths::findExecutable(QStringLiteral("lexgrog")).isEmpty()) {
            const Run whatis = run(QStringLiteral("lexgrog"), {path});
            QCOMPARE(whatis.exitCode, 0);
            const QString name = QFileInfo(page).completeBaseName();
            QVERIFY2(whatis.out.contains(QStringLiteral(": \"%1 - ").arg(name).toUtf8()), whatis.out.constData());
        }
    }
};

QTEST_GUILESS_MAIN(ManualAndCompletionTest)
#include "tst_manual_and_completion.moc"
