#include "execution/LedgerForm.h"

#include <QCheckBox>
#include <QFontMetrics>
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
#include "rulebook/RuleBook.h"
#include "records/DataFolder.h"

namespace {

QString KindText(Ledger::Kind kind) {
    switch (kind) {
        case Ledger::Kind::Open:
            return QStringLiteral("開始");
        case Ledger::Kind::Credit:
            return QStringLiteral("判決の加算");
        case Ledger::Kind::Report:
            return QStringLiteral("ポイント執行報告");  // what its window is called
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
                                         QStringLiteral("増減"), QStringLiteral("前の残高"),
                                         QStringLiteral("後の残高")});
    sgLedger->setSelectionBehavior(QAbstractItemView::SelectRows);
    sgLedger->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sgLedger->setTabKeyNavigation(false);
    sgLedger->verticalHeader()->setVisible(false);
    // The figures and the date take what their widest text needs in the face at hand; the
    // units, the one free text, take the rest, so no column is cut at the right edge.
    const QFontMetrics metrics(sgLedger->font());
    const auto fit = [&](const QString& widest) { return metrics.horizontalAdvance(widest) + 16; };
    const QString widest[] = {QStringLiteral("0000/00/00 00:00:00"), QStringLiteral("ポイント執行報告"),
                              QStringLiteral("0000000000"), QString(),
                              QStringLiteral("-0000000"), QStringLiteral("前の残高0"),
                              QStringLiteral("後の残高0")};
    for (int c = 0; c < 7; ++c)
        if (c != 3) sgLedger->setColumnWidth(c, fit(widest[c]));
    sgLedger->horizontalHeader()->setStretchLastSection(false);
    sgLedger->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
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
        qv::ui::MessageBox::Warn(qv::ui::LedgerUnreadableText(FolderOf(*info_).LedgerPath(), error), this);
    cbAll->setChecked(id_.empty());
    cbAll->setEnabled(!id_.empty());
    LoadList();
}

QString TLedger::UnitsText(const std::array<std::int64_t, 4>& units) const {
    // "正座(分):130分" rather than "0/0/130/0": each implement named, with its unit.
    const CRuleBook* book = info_ ? info_->GetRuleBook() : nullptr;
    QStringList parts;
    for (size_t k = 0; k < units.size(); ++k) {
        if (units[k] == 0) continue;
        const QString name = book ? qv::ui::ShownText(book->GetImpName(static_cast<int>(k)))
                                  : QString();
        parts << qv::ui::CountText(name.isEmpty() ? QStringLiteral("道具%1").arg(k + 1) : name,
                                   units[k]);
    }
    return parts.isEmpty() ? QStringLiteral("0") : parts.join(QStringLiteral("　"));
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
        const QString units = e.units ? UnitsText(*e.units) : QString();
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
