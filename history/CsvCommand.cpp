#include "history/CsvCommand.h"

#include <unistd.h>

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "history/CsvExport.h"
#include "history/HistoryQuery.h"
#include "history/OutputGuard.h"
#include "records/DataFolder.h"
#include "records/SentenceLog.h"
#include "rulebook/RuleBook.h"
#include "text/FileIo.h"
#include "ui/FileTexts.h"

namespace qv::history {

namespace {

void Tell(const QString& text) {
    std::fprintf(stderr, "quorvel: %s\n", text.toLocal8Bit().constData());
}

constexpr const char kUsage[] =
    "使い方: quorvel --export-csv ファイル [--from YYYY/MM/DD] [--to YYYY/MM/DD] [--utf8]";

}  // namespace

void AnchorToWorkingFolder(CsvExportRequest& request) {
    if (request.file.empty() || request.file[0] == '/') return;
    std::unique_ptr<char, decltype(&std::free)> here(::getcwd(nullptr, 0), &std::free);
    if (here) request.file = std::string(here.get()) + '/' + request.file;
}

int RunCsvExport(const CsvExportRequest& request) {
    if (request.file.empty()) {
        std::fprintf(stderr, "%s\n", kUsage);
        return 2;
    }
    if (const std::string own = FolderFileAt(request.file, DataFolder()); !own.empty()) {
        Tell(qv::ui::OverFolderFileText(request.file, own));
        return 2;
    }
    Filter filter;
    if (request.from) {
        filter.from = ParseDate(*request.from);
        if (!filter.from) {
            Tell(QStringLiteral("--from の日付「%1」が読めません（例: 2024/01/31）。")
                     .arg(QString::fromLocal8Bit(request.from->c_str())));
            return 2;
        }
    }
    if (request.to) {
        const std::optional<Seconds> day = ParseDate(*request.to);
        if (!day) {
            Tell(QStringLiteral("--to の日付「%1」が読めません（例: 2024/12/31）。")
                     .arg(QString::fromLocal8Bit(request.to->c_str())));
            return 2;
        }
        filter.to = AddLocalDays(*day, 1);
    }

    // The implement names head their columns; they come from the rule book, which also
    // shows that this is a data folder.
    CRuleBook book;
    book.SetFileName("test.dat");
    if (!book.LoadFile()) {
        Tell(QStringLiteral(
            "データファイル test.dat を読み込めません。データのあるフォルダで実行してください。"));
        return 1;
    }
    std::array<std::string, kImplementCount> names;
    for (int k = 0; k < kImplementCount; ++k) names[k] = book.GetImpName(k);

    const std::string logPath = "test.log";
    SentenceLog::Contents contents;
    if (SentenceLog(logPath).Read(contents) == qv::io::ReadStatus::Unreadable) {
        Tell(qv::ui::LogUnreadableText(logPath));
        return 1;
    }
    HistoryIndex index;
    index.Build(contents);
    contents = {};
    if (index.issues.Any())
        Tell(qv::ui::LogIssuesText(index.issues, logPath) +
             QStringLiteral("\n読めない行は書き出していません。"));

    Rows rows = Apply(index, filter);
    SortRows(index, rows, Column::Time, false);
    qv::io::IoError error;
    if (!ExportCsv(request.file, index, rows, names,
                   request.utf8 ? CsvEncoding::Utf8Bom : CsvEncoding::Cp932, &error)) {
        Tell(qv::ui::ExportFailureText(request.file, error));
        return 1;
    }
    return 0;
}

}  // namespace qv::history
