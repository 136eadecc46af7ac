#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include "ui/Texts.h"

QString VersionText() {
    return QStringLiteral("quorvel " QUORVEL_VERSION "\n") + qv::ui::kAppTitle +
           QStringLiteral(
               "\nLicense GPL-3.0-or-later <https://www.gnu.org/licenses/gpl-3.0.html>\n"
               "This is free software: you are free to change and redistribute it.\n"
               "There is NO WARRANTY, to the extent permitted by law.\n");
}

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
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(
        QStringLiteral("folder"),
        QStringLiteral("データフォルダ（test.dat のあるフォルダ）。省略すると現在のフォルダ。"),
        QStringLiteral("[folder]"));

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
        line.output = parser.helpText();
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
    return line;
}
