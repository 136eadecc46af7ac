#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>

#include "ui/Texts.h"

QString VersionText() {
    return QStringLiteral("quorvel " QUORVEL_VERSION "\n") + qv::ui::kAppTitle +
           QStringLiteral(
               "\nライセンス: GPL-3.0-or-later <https://www.gnu.org/licenses/gpl-3.0.html>\n"
               "これはフリーソフトウェアです。変更と再配布は自由です。\n"
               "法律の許す限り、いかなる保証もありません。\n");
}

namespace {

// Columns a character takes in a terminal: 2 for East Asian wide and full-width ones.
int ColumnsOf(char32_t c) {
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

int Columns(const QString& text) {
    int columns = 0;
    for (const char32_t c : text.toUcs4()) columns += ColumnsOf(c);
    return columns;
}

// text in lines of at most width columns: broken between wide characters or at a blank,
// never inside a word of ASCII letters nor before closing punctuation.
QStringList Wrapped(const QString& text, int width) {
    QStringList pieces;  // a wide character, or an ASCII word with the blank after it
    for (const char32_t c : text.toUcs4()) {
        const QString one = QString::fromUcs4(&c, 1);
        const bool joins = !pieces.isEmpty() && ColumnsOf(c) == 1 &&
                           !pieces.last().endsWith(u' ') && Columns(pieces.last().right(1)) == 1;
        // Closing punctuation never begins a line.
        const bool closes = QStringLiteral("。、）」』").contains(one);
        if (joins || closes || (c == U' ' && !pieces.isEmpty()))
            pieces.last() += one;
        else
            pieces << one;
    }
    QStringList lines{QString()};
    for (const QString& piece : pieces) {
        if (!lines.last().isEmpty() && Columns(lines.last() + piece.trimmed()) > width)
            lines << QString();
        lines.last() += piece;
    }
    for (QString& line : lines) line = line.trimmed();
    return lines;
}

// The toolkit's help lays its columns out by characters, which parts them where names hold
// Japanese: laid out here by the columns each character takes.
QString HelpText(const QString& program, const QString& description,
                 const QList<QCommandLineOption>& options, const QString& argument,
                 const QString& argumentHelp) {
    constexpr int kWidth = 79;
    QList<std::pair<QString, QString>> rows;
    for (const QCommandLineOption& option : options) {
        QStringList names;
        for (const QString& name : option.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString left = names.join(QStringLiteral(", "));
        if (!option.valueName().isEmpty()) left += QStringLiteral(" <") + option.valueName() + u'>';
        rows.append({left, option.description()});
    }
    int column = 0;
    for (const auto& row : rows) column = std::max(column, Columns(row.first));
    column = std::max(column, Columns(argument)) + 4;
    const auto lay = [&](const QString& left, const QString& help) {
        QString out;
        const QStringList lines = Wrapped(help, kWidth - column);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString head = i == 0 ? QStringLiteral("  ") + left : QString();
            out += head + QString(column - Columns(head), u' ') + lines[i] + u'\n';
        }
        return out;
    };
    QStringList about;
    for (const QString& line : description.split(u'\n')) about << Wrapped(line, kWidth);
    QString text = QStringLiteral("使い方: ") + program + QStringLiteral(" [オプション] [") + argument +
                   QStringLiteral("]\n") + about.join(u'\n') + QStringLiteral("\n\nオプション:\n");
    for (const auto& [left, help] : rows) text += lay(left, help);
    text += QStringLiteral("\n引数:\n") + lay(argument, argumentHelp);
    return text;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        qv::ui::kAppTitle +
        QStringLiteral(": ルールブックを管理し、裁判で量刑を決め、執行を記録します。\n"
                       "データ（test.dat, test.log, user.dat）はデータフォルダに置かれます。"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("この説明を表示して終わります。"));
    const QCommandLineOption version(
        {QStringLiteral("v"), QStringLiteral("version")},
        QStringLiteral("バージョンとライセンスを表示して終わります。"));
    const QCommandLineOption exportCsv(
        QStringLiteral("export-csv"),
        QStringLiteral("判決の一覧をCSVファイルに書き出して終わります（画面は使いません）。"),
        QStringLiteral("ファイル"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("--export-csv: この日から（YYYY/MM/DD）。"),
                                  QStringLiteral("日付"));
    const QCommandLineOption to(
        QStringLiteral("to"),
        QStringLiteral("--export-csv: この日まで（YYYY/MM/DD、その日を含む）。"),
        QStringLiteral("日付"));
    const QCommandLineOption utf8(
        QStringLiteral("utf8"),
        QStringLiteral("--export-csv: Shift-JIS ではなく UTF-8（BOM付き）で書き出します。"));
    const QCommandLineOption check(
        QStringLiteral("check"),
        QStringLiteral("未執行の判決とポイント残高をリマインダーの設定で確かめ、知らせることが"
                       "あればデスクトップに通知して終わります（画面は使いません）。"));
    const QCommandLineOption mergeConflicts(
        QStringLiteral("merge-conflicts"),
        QStringLiteral("同期ツールが残した競合コピーを取り込み、結果を表示して終わります"
                       "（画面は使いません）。"));
    const QCommandLineOption openReport(QStringLiteral("open-report"),
                                        QStringLiteral("執行報告の画面を開いて始めます。"));
    const QList<QCommandLineOption> options{help,  version, exportCsv,      from,      to,
                                            utf8,  check,   mergeConflicts, openReport};
    for (const QCommandLineOption& option : options) parser.addOption(option);
    const QString folderHelp =
        QStringLiteral("データフォルダ（test.dat のあるフォルダ）。省略すると現在のフォルダ。");
    parser.addPositionalArgument(QStringLiteral("フォルダ"), folderHelp,
                                 QStringLiteral("[フォルダ]"));

    CommandLine line;
    const QString program = arguments.value(0, QStringLiteral("quorvel"));
    const QString seeHelp =
        QStringLiteral("\n使い方は「") + program + QStringLiteral(" --help」で表示されます。\n");
    if (!parser.parse(arguments)) {
        line.action = CommandLine::Action::Fail;
        line.output = program + QStringLiteral(": ") + parser.errorText() + seeHelp;
        return line;
    }
    if (parser.isSet(help)) {
        line.action = CommandLine::Action::ShowHelp;
        line.output = HelpText(QFileInfo(program).fileName(), parser.applicationDescription(),
                               options, QStringLiteral("フォルダ"), folderHelp);
        return line;
    }
    if (parser.isSet(version)) {
        line.action = CommandLine::Action::ShowVersion;
        line.output = VersionText();
        return line;
    }
    const QStringList rest = parser.positionalArguments();
    if (rest.size() > 1) {
        line.action = CommandLine::Action::Fail;
        line.output = program + QStringLiteral(": データフォルダは一つだけ指定できます（") +
                      rest.join(QStringLiteral(", ")) + QStringLiteral("）。") + seeHelp;
        return line;
    }
    line.folder = rest.value(0);
    const int asked = int(parser.isSet(exportCsv)) + int(parser.isSet(check)) +
                      int(parser.isSet(openReport)) + int(parser.isSet(mergeConflicts));
    if (asked > 1) {
        line.action = CommandLine::Action::Fail;
        line.output = program +
                      QStringLiteral(": --export-csv, --check, --merge-conflicts, --open-report "
                                     "は一つずつ使います。") +
                      seeHelp;
        return line;
    }
    if (parser.isSet(exportCsv)) {
        line.action = CommandLine::Action::ExportCsv;
        line.csv.file = parser.value(exportCsv).toLocal8Bit().toStdString();
        if (parser.isSet(from)) line.csv.from = parser.value(from).toLocal8Bit().toStdString();
        if (parser.isSet(to)) line.csv.to = parser.value(to).toLocal8Bit().toStdString();
        line.csv.utf8 = parser.isSet(utf8);
    } else if (parser.isSet(from) || parser.isSet(to) || parser.isSet(utf8)) {
        line.action = CommandLine::Action::Fail;
        line.output = program +
                      QStringLiteral(": --from, --to, --utf8 は --export-csv と使います。") +
                      seeHelp;
    } else if (parser.isSet(check)) {
        line.action = CommandLine::Action::Check;
    } else if (parser.isSet(mergeConflicts)) {
        line.action = CommandLine::Action::MergeConflicts;
    } else if (parser.isSet(openReport)) {
        line.openReport = true;
    }
    return line;
}

void TakeFolderPath(CommandLine& line, int argc, char** argv) {
    line.folderPath = QFile::encodeName(line.folder);
    if (line.folder.isEmpty()) return;
    // The positional argument is the last one that reads as the folder and is not the
    // value of an option that takes one.
    for (int i = argc - 1; i >= 1; --i) {
        if (QFile::decodeName(argv[i]) != line.folder) continue;
        const char* before = argv[i - 1];
        if (i > 1 && (std::strcmp(before, "--export-csv") == 0 ||
                      std::strcmp(before, "--from") == 0 || std::strcmp(before, "--to") == 0))
            continue;
        line.folderPath = argv[i];
        return;
    }
}
