#include "execution/LedgerForm.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <ctime>

#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"
#include "records/DataFolder.h"

namespace {

QString KindText(Ledger::Kind kind) {
    switch (kind) {
        case Ledger::Kind::Open:
            return QStringLiteral("開始");
        case Ledger::Kind::Credit:
            return QStringLiteral("判決の加算");
        case Ledger::Kind::Report:
            return QStringLiteral("執行報告");
        case Ledger::Kind::Delete:
            return QStringLiteral("削除の差引");
        case Ledger::Kind::Undo:
            return QStringLiteral("元に戻す");
        case Ledger::Kind::Adjust:
            return QStringLiteral("調整");
        case Ledger::Kind::Merge:
            return QStringLiteral("もう一台から取り込み");
    }
    return {};
}

QString Signed(std::int64_t n) {
    return n > 0 ? QStringLiteral("+") + QString::number(n) : QString::number(n);
}

}  // namespace

TLedger::TLedger(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TLedger"));
    setWindowTitle(QStringLiteral("ポイント台帳"));
    qv::ui::SetFormFont(this, 12);
    auto* layout = new QVBoxLayout(this);
    pnSum = new QLabel(this);
    pnSum->setObjectName(QStringLiteral("pnSum"));
    pnSum->setTextFormat(Qt::PlainText);
    layout->addWidget(pnSum);
    cbAll = new QCheckBox(QStringLiteral("台帳全体を表示"), this);
    cbAll->setObjectName(QStringLiteral("cbAll"));
    layout->addWidget(cbAll);
    sgLedger = new QTableWidget(0, 7, this);
    sgLedger->setObjectName(QStringLiteral("sgLedger"));
    sgLedger->setHorizontalHeaderLabels({QStringLiteral("日時"), QStringLiteral("種類"),
                                         QStringLiteral("識別子"), QStringLiteral("報告の回数"),
                                         QStringLiteral("求めた増減"), QStringLiteral("前の残高"),
                                         QStringLiteral("後の残高")});
    sgLedger->setSelectionBehavior(QAbstractItemView::SelectRows);
    sgLedger->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sgLedger->setTabKeyNavigation(false);
    sgLedger->verticalHeader()->setVisible(false);
    sgLedger->setColumnWidth(0, 150);
    sgLedger->setColumnWidth(1, 90);
    sgLedger->setColumnWidth(2, 95);
    sgLedger->setColumnWidth(3, 90);
    sgLedger->horizontalHeader()->setStretchLastSection(true);
    sgLedger->setAccessibleName(QStringLiteral("ポイント台帳の行"));
    layout->addWidget(sgLedger);
    auto* buttons = new QHBoxLayout;
    auto* btExit = new QPushButton(QStringLiteral("閉じる"), this);
    btExit->setObjectName(QStringLiteral("btExit"));
    btExit->setAutoDefault(true);
    buttons->addStretch();
    buttons->addWidget(btExit);
    layout->addLayout(buttons);
    resize(760, 380);
    qv::ui::MakeResizable(this, QStringLiteral("TLedger"), minimumSizeHint());
    qv::ui::NameControls(this);
    connect(btExit, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbAll, &QCheckBox::toggled, this, &TLedger::LoadList);
}

void TLedger::Init(CInfo* info, std::string id) {
    info_ = info;
    id_ = std::move(id);
    qv::io::IoError error;
    if (Ledger(FolderOf(*info_).LedgerPath()).Read(contents_, &error) == qv::io::ReadStatus::Unreadable)
        qv::ui::MessageBox::Show(qv::ui::LedgerUnreadableText(FolderOf(*info_).LedgerPath(), error), this);
    cbAll->setChecked(id_.empty());
    cbAll->setEnabled(!id_.empty());
    LoadList();
}

void TLedger::LoadList() {
    const bool all = cbAll->isChecked();
    std::int64_t credited = 0, debited = 0, givenBack = 0;
    int rows = 0;
    sgLedger->setRowCount(0);
    for (const Ledger::Entry& e : contents_.entries) {
        if (!all && e.id != id_) continue;
        const std::int64_t change = e.after - e.before;
        if (e.kind == Ledger::Kind::Credit) credited += change;
        if (e.kind == Ledger::Kind::Delete) debited += change;
        if (e.kind == Ledger::Kind::Undo) givenBack += change;
        sgLedger->insertRow(rows);
        QString units;
        if (e.units)
            for (std::int64_t u : *e.units)
                units += (units.isEmpty() ? QString() : QStringLiteral("/")) + QString::number(u);
        sgLedger->setItem(rows, 0, qv::ui::ReadOnlyCell(qv::ui::LocalTimeText(e.time)));
        sgLedger->setItem(rows, 1, qv::ui::ReadOnlyCell(KindText(e.kind)));
        sgLedger->setItem(rows, 2, qv::ui::ReadOnlyCell(qv::ui::ShownText(e.id)));
        sgLedger->setItem(rows, 3, qv::ui::ReadOnlyCell(units));
        sgLedger->setItem(rows, 4, qv::ui::ReadOnlyCell(Signed(e.asked), true));
        sgLedger->setItem(rows, 5, qv::ui::ReadOnlyCell(QString::number(e.before), true));
        sgLedger->setItem(rows, 6, qv::ui::ReadOnlyCell(QString::number(e.after), true));
        ++rows;
    }
    if (all) {
        const auto last = contents_.Last();
        pnSum->setText(last ? QStringLiteral("台帳の残高: ") + QString::number(*last) +
                                  QStringLiteral("（%1行）").arg(QString::number(rows))
                            : QStringLiteral("台帳にはまだ何もありません。"));
    } else if (rows == 0) {
        pnSum->setText(QStringLiteral("識別子") + qv::ui::ShownText(id_) +
                       QStringLiteral("の判決のポイントの出入りはありません。"));
    } else {
        pnSum->setText(QStringLiteral("識別子") + qv::ui::ShownText(id_) +
                       QStringLiteral("の判決: 加算 ") + Signed(credited) +
                       QStringLiteral("、削除の差引 ") + Signed(debited) +
                       QStringLiteral("、元に戻す ") + Signed(givenBack));
    }
    if (rows > 0) sgLedger->scrollToBottom();
}

void OpenLedger(QWidget* parent, CInfo* info, const std::string& id) {
    TLedger window(parent);
    window.Init(info, id);
    window.exec();
}
