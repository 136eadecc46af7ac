#include "execution/BackupsForm.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "rulebook/RuleBook.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"
#include "records/BookSave.h"
#include "records/DataFolder.h"
#include "text/FileIo.h"

namespace {

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

TBackups::TBackups(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TBackups"));
    setWindowTitle(QStringLiteral("バックアップ"));
    qv::ui::SetFormFont(this, 12);
    auto* layout = new QVBoxLayout(this);
    sgBackups = new QTableWidget(0, 4, this);
    sgBackups->setObjectName(QStringLiteral("sgBackups"));
    sgBackups->setHorizontalHeaderLabels({QStringLiteral("ファイル"), QStringLiteral("日時"),
                                          QStringLiteral("サイズ"), QStringLiteral("件数")});
    sgBackups->setColumnWidth(0, 110);
    sgBackups->setColumnWidth(1, 160);
    sgBackups->setColumnWidth(2, 110);
    qv::ui::SetUpRecordTable(sgBackups, QStringLiteral("バックアップの一覧"));
    layout->addWidget(sgBackups);
    auto* buttons = new QHBoxLayout;
    btRestore = new QPushButton(QStringLiteral("この版に戻す"), this);
    btRestore->setObjectName(QStringLiteral("btRestore"));
    btExit = new QPushButton(QStringLiteral("閉じる"), this);
    btExit->setObjectName(QStringLiteral("btExit"));
    for (QPushButton* b : {btRestore, btExit}) {
        b->setAutoDefault(true);
        // Room around the caption, as the other windows' buttons have.
        b->setMinimumWidth(b->sizeHint().width() + 2 * b->fontMetrics().height());
        buttons->addWidget(b);
    }
    buttons->addStretch();
    layout->addLayout(buttons);
    resize(520, 360);
    qv::ui::MakeResizable(this, QStringLiteral("TBackups"), minimumSizeHint());
    qv::ui::NameControls(this);
    connect(btRestore, &QPushButton::clicked, this, &TBackups::btRestoreClick);
    connect(btExit, &QPushButton::clicked, this, &QDialog::reject);
}

void TBackups::Init(CInfo* info) {
    info_ = info;
    // A folder that is a link is never used: said once, and the list stays empty.
    if (Backups(FolderOf(*info_).BackupFolder()).State() == Backups::FolderState::Link)
        qv::ui::MessageBox::Show(qv::ui::BackupFolderIsLinkText(FolderOf(*info_).BackupFolder()), this);
    LoadList();
}

void TBackups::LoadList() {
    if (info_ == nullptr) return;
    const int previous = sgBackups->currentRow();
    versions_ = Backups(FolderOf(*info_).BackupFolder()).List();
    sgBackups->setRowCount(static_cast<int>(versions_.size()));
    for (size_t i = 0; i < versions_.size(); ++i) {
        const Backups::Version& v = versions_[i];
        const int row = static_cast<int>(i);
        sgBackups->setItem(row, 0, qv::ui::ReadOnlyCell(qv::ui::PathText(v.file)));
        sgBackups->setItem(row, 1, qv::ui::ReadOnlyCell(qv::ui::LocalTimeText(v.time)));
        sgBackups->setItem(row, 2,
                           qv::ui::ReadOnlyCell(
                               QLocale(QLocale::Japanese).toString(static_cast<qlonglong>(v.size)) +
                                   QStringLiteral(" バイト"),
                               true));
        sgBackups->setItem(row, 3, qv::ui::ReadOnlyCell(QString::number(v.records), true));
    }
    if (!versions_.empty())
        sgBackups->selectRow(std::clamp(previous, 0, static_cast<int>(versions_.size()) - 1));
    btRestore->setEnabled(!versions_.empty());
}

std::string TBackups::TargetOf(const Backups::Version& version) const {
    for (const std::string& path :
         {info_->GetLogPath(), info_->GetBalancePath(),
          info_->GetRuleBook() ? info_->GetRuleBook()->GetFileName() : std::string()})
        if (!path.empty() && BaseName(path) == version.file) return path;
    return version.file;
}

namespace {
// What a restore of the log does to the sentences, said before it is done.
QString LogChangeText(const Backups::LogChange& change) {
    if (!change.known) return {};
    QString text;
    if (change.lost > 0)
        text += QStringLiteral("\nこの版のあとに記録した判決%1件が消えます。").arg(change.lost);
    if (change.back > 0)
        text += QStringLiteral("\nこの版のあとに削除した判決%1件が戻ります。").arg(change.back);
    if (text.isEmpty()) text = QStringLiteral("\n判決の数は変わりません。");
    return text + QStringLiteral("\nポイント残高（user.dat）は変わりません。");
}
}  // namespace

void TBackups::btRestoreClick() {
    const int row = sgBackups->currentRow();
    if (row < 0 || row >= static_cast<int>(versions_.size())) return;
    const Backups::Version version = versions_[static_cast<size_t>(row)];
    const std::string target = TargetOf(version);
    CRuleBook* book = info_->GetRuleBook();
    const bool isBook = book != nullptr && target == book->GetFileName();
    QString question =
        QStringLiteral("「%1」を%2の版に戻します。いまの版はバックアップに残します。")
            .arg(qv::ui::PathText(target), qv::ui::LocalTimeText(version.time));
    if (isBook && book->IsModified())
        question += QStringLiteral("\nまだ保存していないルールの変更は失われます。");
    if (target == info_->GetLogPath())
        question += LogChangeText(Backups(FolderOf(*info_).BackupFolder()).CompareLog(version, target));
    if (!qv::ui::MessageBox::Confirm(question)) return;
    const DataFolder folder = FolderOf(*info_);
    if (isBook && !folder.JournalsPath().empty() && qv::io::IsRealFolder(folder.JournalsPath())) {
        // The journals hold the book: the version comes back as a save of it, its lines
        // first, or the next start would bring the file back to what they say.
        std::string bytes;
        const auto read = Backups(folder.BackupFolder()).Read(version, bytes);
        if (read != Backups::RestoreResult::Restored) {
            qv::ui::MessageBox::Show(
                qv::ui::BackupRestoreFailedText(read, target, folder.BackupFolder()), this);
        } else if (const BookSave save = RestoreBookVersion(folder, *book, bytes); !save.saved) {
            qv::ui::MessageBox::Show(qv::ui::RuleBookSaveFailureText(target), this);
        } else if (!save.effects.backedUp) {
            qv::ui::MessageBox::Show(qv::ui::BackupFailedText(folder.BackupFolder()), this);
        }
        LoadList();
        return;
    }
    const auto result = Backups(FolderOf(*info_).BackupFolder()).Restore(version, target);
    if (result != Backups::RestoreResult::Restored) {
        qv::ui::MessageBox::Show(
            qv::ui::BackupRestoreFailedText(result, target, FolderOf(*info_).BackupFolder()), this);
    } else if (isBook && !book->LoadFile()) {
        // The restored file is what the windows work on from now; one that cannot be read
        // back is told (the version before it is in the backups).
        qv::ui::MessageBox::Show(qv::ui::RuleBookSaveFailureText(target), this);
    }
    LoadList();
}

void OpenBackups(QWidget* parent, CInfo* info) {
    TBackups window(parent);
    window.Init(info);
    window.exec();
}
