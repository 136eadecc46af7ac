#include "execution/TrashForm.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "execution/Undo.h"
#include "records/Backups.h"
#include "records/SentenceLog.h"
#include "rulebook/Rule.h"
#include "rulebook/RuleBook.h"
#include "ui/Accessibility.h"
#include "execution/ExecutionTexts.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"
#include "ui/Words.h"
#include "records/BookSave.h"
#include "records/DataFolder.h"
#include "records/TrashPurge.h"

TTrash::TTrash(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TTrash"));
    setWindowTitle(QStringLiteral("ごみ箱"));
    qv::ui::SetFormFont(this, 12);
    auto* layout = new QVBoxLayout(this);
    sgTrash = new QTableWidget(0, 4, this);
    sgTrash->setObjectName(QStringLiteral("sgTrash"));
    sgTrash->setHorizontalHeaderLabels({QStringLiteral("削除日時"), QStringLiteral("種類"),
                                        QStringLiteral("内容"), QStringLiteral("ポイント")});
    sgTrash->setColumnWidth(0, 150);
    sgTrash->setColumnWidth(1, 50);
    sgTrash->setColumnWidth(3, 80);
    qv::ui::SetUpRecordTable(sgTrash, QStringLiteral("ごみ箱の項目"));
    // The content takes what the others leave, so the columns never overrun the view.
    sgTrash->horizontalHeader()->setStretchLastSection(false);
    sgTrash->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    layout->addWidget(sgTrash);
    auto* buttons = new QHBoxLayout;
    btRestore = new QPushButton(QStringLiteral("元に戻す"), this);
    btRestore->setObjectName(QStringLiteral("btRestore"));
    btPurge = new QPushButton(QStringLiteral("完全に削除"), this);
    btPurge->setObjectName(QStringLiteral("btPurge"));
    btExit = new QPushButton(QStringLiteral("閉じる"), this);
    btExit->setObjectName(QStringLiteral("btExit"));
    // 閉じる stands apart, at the right, so that it is never taken for 完全に削除.
    for (QPushButton* b : {btRestore, btPurge, btExit}) {
        b->setAutoDefault(true);
        if (b == btExit) buttons->addStretch();
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);
    resize(700, 380);
    qv::ui::MakeResizable(this, QStringLiteral("TTrash"), minimumSizeHint());
    qv::ui::NameControls(this);
    connect(btRestore, &QPushButton::clicked, this, &TTrash::btRestoreClick);
    connect(btPurge, &QPushButton::clicked, this, &TTrash::btPurgeClick);
    connect(btExit, &QPushButton::clicked, this, &QDialog::reject);
}

void TTrash::Init(CInfo* info, qv::execution::ReportSession* session) {
    info_ = info;
    session_ = session;
    LoadList();
}

void TTrash::LoadList() {
    if (info_ == nullptr) return;
    const int previous = sgTrash->currentRow();
    Trash::Contents contents;
    qv::io::IoError error;
    const auto read = Trash(FolderOf(*info_).TrashPath()).Read(contents, &error);
    if (read == qv::io::ReadStatus::Unreadable) {
        qv::ui::MessageBox::Warn(qv::ui::TrashUnreadableText(FolderOf(*info_).TrashPath(), error), this);
    } else if (!contents.unreadLines.empty() && !toldUnread_) {
        toldUnread_ = true;
        qv::ui::MessageBox::Show(
            qv::ui::TrashUnreadLinesText(FolderOf(*info_).TrashPath(), contents.unreadLines.size()), this);
    }
    entries_.assign(contents.entries.rbegin(), contents.entries.rend());
    sgTrash->setRowCount(static_cast<int>(entries_.size()));
    for (size_t i = 0; i < entries_.size(); ++i) {
        const Trash::Entry& e = entries_[i];
        const int row = static_cast<int>(i);
        sgTrash->setItem(row, 0, qv::ui::ReadOnlyCell(qv::ui::LocalTimeText(e.deletedAt)));
        QString what;
        if (e.kind == Trash::Kind::LogRecord) {
            sgTrash->setItem(row, 1, qv::ui::ReadOnlyCell(QStringLiteral("判決")));
            const std::string_view line = e.payload;
            using F = SentenceLog::Contents;
            what = qv::ui::ShownText(F::FieldOf(line, SentenceRecord::kDecisionTime)) +
                   QStringLiteral("  ") +
                   qv::ui::ArticleText(F::FieldOf(line, SentenceRecord::kArticleNumber),
                                       F::FieldOf(line, SentenceRecord::kArticleName)) +
                   QStringLiteral("  ") +
                   qv::ui::ShownText(F::FieldOf(line, SentenceRecord::kDistribution));
        } else {
            sgTrash->setItem(row, 1, qv::ui::ReadOnlyCell(QStringLiteral("条文")));
            CRule rule;
            if (rule.FromLine(e.payload))
                what = qv::ui::ArticleText(rule.GetNumber(), rule.GetName());
            else
                what = qv::ui::ShownText(e.payload);
        }
        sgTrash->setItem(row, 2, qv::ui::ReadOnlyCell(what));
        sgTrash->setItem(
            row, 3,
            qv::ui::ReadOnlyCell(e.kind == Trash::Kind::LogRecord ? QString::number(e.points)
                                                                  : QString(),
                                 true));
    }
    if (!entries_.empty())
        sgTrash->selectRow(std::clamp(previous, 0, static_cast<int>(entries_.size()) - 1));
    btRestore->setEnabled(!entries_.empty());
    btPurge->setEnabled(!entries_.empty());
}

const Trash::Entry* TTrash::Selected() const {
    const int row = sgTrash->currentRow();
    if (row < 0 || row >= static_cast<int>(entries_.size())) return nullptr;
    return &entries_[static_cast<size_t>(row)];
}

void TTrash::btRestoreClick() {
    const Trash::Entry* selected = Selected();
    if (selected == nullptr) return;
    const Trash::Entry entry = *selected;
    if (entry.kind == Trash::Kind::Article) {
        RestoreArticle(entry);
        LoadList();
        return;
    }
    if (!qv::ui::MessageBox::Confirm(
            QStringLiteral("選択された判決を判決記録に戻し、差し引いた%1ポイントを残高に戻します。")
                .arg(QString::number(entry.points))))
        return;
    qv::execution::ReportSession own(*info_);
    qv::execution::ReportSession& session = session_ != nullptr ? *session_ : own;
    const qv::execution::Outcome outcome = session.RestoreFromTrash({&entry, 1});
    QString told = qv::ui::UndoFailureText(outcome, info_->GetLogPath(), info_->GetBalancePath());
    if (told.isEmpty())
        told = qv::ui::SideEffectsText(outcome.effects, *info_);
    if (!told.isEmpty()) qv::ui::MessageBox::Show(told, this);
    LoadList();
    if (outcome.Ok()) emit Restored();
}

bool TTrash::RestoreArticle(const Trash::Entry& entry) {
    CRuleBook* book = info_->GetRuleBook();
    CRule rule;
    if (book == nullptr || !rule.FromLine(entry.payload)) return false;
    QString question =
        QStringLiteral("%1 - %2を元に戻し、ルールブックを保存します。")
            .arg(QString::number(rule.GetNumber()), qv::ui::ShownText(rule.GetName()));
    if (const CRule* taken = book->FindRule(rule.GetNumber()); taken != nullptr)
        question +=
            QStringLiteral(
                "\nいまの%1 - %2は置き換わります（保存前の版はバックアップに残ります）。")
                .arg(QString::number(taken->GetNumber()), qv::ui::ShownText(taken->GetName()));
    if (book->IsModified())
        question += QStringLiteral("\nまだ保存していないルールの変更も一緒に保存されます。");
    if (!qv::ui::MessageBox::Confirm(question)) return false;
    // The article is out of the trash only once the book holding it is on disk.
    const DataFolder folder = FolderOf(*info_);
    const BookSave save = ::RestoreArticle(folder, *book, entry);
    if (!save.saved) {
        qv::ui::MessageBox::Warn(qv::ui::ArticleRestoreFailedText(book->GetFileName()), this);
        return false;
    }
    QStringList told;
    if (!save.effects.backedUp) told << qv::ui::BackupFailedText(folder.BackupFolder());
    if (!save.effects.trashed)
        told << qv::ui::TrashRemoveFailedText(folder.TrashPath(), save.effects.error);
    if (!told.isEmpty()) qv::ui::MessageBox::Show(told.join(QStringLiteral("\n")), this);
    return true;
}

void TTrash::btPurgeClick() {
    const Trash::Entry* selected = Selected();
    if (selected == nullptr) return;
    if (!qv::ui::MessageBox::Confirm(
            QStringLiteral("選択された項目をごみ箱から完全に削除します。元には戻せません。")))
        return;
    qv::io::IoError error;
    if (!PurgeFromTrash(FolderOf(*info_), {&selected->serial, 1}, &error))
        qv::ui::MessageBox::Warn(qv::ui::TrashRemoveFailedText(FolderOf(*info_).TrashPath(), error), this);
    LoadList();
}

void OpenTrash(QWidget* parent, CInfo* info, qv::execution::ReportSession* session) {
    TTrash window(parent);
    window.Init(info, session);
    window.exec();
}
