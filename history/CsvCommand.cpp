#include "history/CsvCommand.h"

#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "history/CsvExport.h"
#include "history/HistoryQuery.h"
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
    "usage: quorvel --export-csv FILE [--from YYYY/MM/DD] [--to YYYY/MM/DD] [--utf8]";

}  // namespace

int RunCsvExport(const CsvExportRequest& request) {
    if (request.file.empty()) {
        std::fprintf(stderr, "%s\n", kUsage);
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
    const std::string bytes =
        MakeCsv(index, rows, names, request.utf8 ? CsvEncoding::Utf8Bom : CsvEncoding::Cp932);
    errno = 0;
    if (!qv::io::WriteFileAtomic(request.file, bytes)) {
        Tell(qv::ui::ExportFailureText(request.file, errno));
        return 1;
    }
    return 0;
}

std::optional<int> RunCsvExportIfAsked(int argc, char** argv) {
    bool asked = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--export-csv") == 0 ||
            std::strncmp(argv[i], "--export-csv=", 13) == 0)
            asked = true;
    if (!asked) return std::nullopt;

    CsvExportRequest request;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // "--name value" and "--name=value" alike.
        auto value = [&](const char* name, std::optional<std::string>& out) {
            const std::string flag = name;
            if (arg == flag) {
                if (i + 1 >= argc) return false;
                out = argv[++i];
                return true;
            }
            if (arg.rfind(flag + "=", 0) == 0) {
                out = arg.substr(flag.size() + 1);
                return true;
            }
            return false;
        };
        std::optional<std::string> file;
        if (value("--export-csv", file)) {
            request.file = *file;
        } else if (value("--from", request.from) || value("--to", request.to)) {
        } else if (arg == "--utf8") {
            request.utf8 = true;
        } else {
            std::fprintf(stderr, "quorvel: unknown or incomplete option: %s\n%s\n", arg.c_str(),
                         kUsage);
            return 2;
        }
    }
    return RunCsvExport(request);
}

}  // namespace qv::history
