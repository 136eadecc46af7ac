#include "execution/DonePointForm.h"

#include <array>

#include "execution/PointReport.h"
#include "execution/Undo.h"
#include "records/BalanceBook.h"
#include "records/PointBalance.h"
#include "rulebook/RuleBook.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"

TDonePoint::TDonePoint(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    qv::ui::SetFormFont(this, 12);
    qv::ui::Place(this);  // uic only sizes a top-level window
    connect(btOK, &QPushButton::clicked, this, &TDonePoint::btOKClick);
    connect(btCancel, &QPushButton::clicked, this, &TDonePoint::btCancelClick);
}

void TDonePoint::Init(CInfo* info) {
    info_ = info;
    const CRuleBook* book = info_->GetRuleBook();
    const auto rows = Rows();
    for (int k = 0; k < 4; ++k) {
        const Row& row = rows[static_cast<size_t>(k)];
        const QString name = qv::ui::FromCp932(book->GetImpName(k));
        row.name->setText(name);
        row.units->setAccessibleName(
            QStringLiteral("%1の回数")
                .arg(name.isEmpty() ? QStringLiteral("道具%1").arg(k + 1) : name));
        // An implement worth nothing cannot be reported; the field stays empty for good.
        if (book->GetImpWeight(k) <= 0) row.units->setEnabled(false);
    }
    qv::ui::NameControls(this);  // now that the rows carry the implements' names
}

std::array<TDonePoint::Row, 4> TDonePoint::Rows() const {
    return {{{pnImp1, tfImp1}, {pnImp2, tfImp2}, {pnImp3, tfImp3}, {pnImp4, tfImp4}}};
}

void TDonePoint::btOKClick() {
    const CRuleBook* book = info_->GetRuleBook();
    const auto rows = Rows();
    std::array<std::string, 4> typed;
    std::array<qv::PointReportEntry, 4> entries;
    for (size_t k = 0; k < rows.size(); ++k) {
        if (rows[k].units->isEnabled()) typed[k] = rows[k].units->text().toStdString();
        entries[k] = {book->GetImpWeight(static_cast<int>(k)), typed[k]};
    }
    const qv::PointReportTotal total = qv::TotalPointReport(entries);
    if (!total.fits) {
        qv::ui::MessageBox::Show(QStringLiteral("合計が大きすぎるため報告できません。一度に報告でき"
                                                "るのは2147483647ポイントまでです。"),
                                 this);
        return;
    }

    QString message;
    for (size_t k = 0; k < rows.size(); ++k) {
        if (total.units[k] > 0)
            message += rows[k].name->text() + QStringLiteral(":") +
                       QString::number(total.units[k]) + QStringLiteral("\r\n");
    }
    message += QStringLiteral("以上合計") + QString::number(total.points) +
               QStringLiteral("ポイントで報告します。");
    if (!qv::ui::MessageBox::Confirm(message)) return;

    if (total.points > 0) {
        // Through the window's session when there is one, so the report can be undone;
        // either way with its ledger line and the old balance kept.
        qv::undo::Outcome outcome;
        if (session_ != nullptr) {
            outcome = session_->Report(total.units, total.points);
        } else {
            const Booking booking = BalanceBook(info_->GetBalancePath(), info_->GetLedgerPath(),
                                                nullptr, info_->GetBackupFolder())
                                        .Report(total.units, total.points);
            outcome.balance = booking.status;
            outcome.error = booking.error;
            outcome.ledgered = booking.ledgered;
            outcome.backedUp = booking.backedUp;
            if (!booking.Ok()) outcome.result = qv::undo::Outcome::Result::BalanceFailed;
        }
        const PointBalance::Status status = outcome.balance;
        const qv::io::IoError& error = outcome.error;
        if (status != PointBalance::Status::Ok) {
            // Not booked: the window stays open with the entries, so nothing is lost.
            qv::ui::MessageBox::Show(
                qv::ui::ReportNotBookedText(status, info_->GetBalancePath(), error), this);
            return;
        }
        const QString told =
            qv::ui::SideEffectsText(outcome.ledgered, true, outcome.backedUp, *info_);
        if (!told.isEmpty()) qv::ui::MessageBox::Show(told, this);
    }
    accept();
}

void TDonePoint::btCancelClick() { reject(); }
