#include "execution/DonePointForm.h"

#include <QFontMetrics>
#include <array>

#include "execution/PointReport.h"
#include "execution/Undo.h"
#include "records/BalanceBook.h"
#include "records/PointBalance.h"
#include "rulebook/RuleBook.h"
#include "text/Numbers.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"
#include "records/DataFolder.h"

namespace {
QString PointsText(std::int64_t points) {
    return QString::number(points) + QStringLiteral("ポイント");
}

// A caption shortened to the button's room, the whole of it as the tip and the name.
void SetPlanCaption(QPushButton* button, const QString& caption) {
    const QFontMetrics metrics(button->font());
    button->setText(metrics.elidedText(caption, Qt::ElideRight, button->width() - 16));
    button->setToolTip(caption);
    button->setAccessibleName(caption);
}

// Why a unit field's text is no number (empty when it is one, or nothing is typed): the
// report refuses it rather than count something else than was meant.
QString NotANumberNote(const QString& typed) {
    if (typed.trimmed().isEmpty() || qv::ui::TypedInteger(typed)) return {};
    return QStringLiteral("「") + typed +
           QStringLiteral("」は数として読めません。数字だけで入力してください（全角の数字も使えます）。");
}
}  // namespace

TDonePoint::TDonePoint(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    // Its controls stand at fixed places: a smaller window would cut them off.
    setFixedSize(size());
    qv::ui::SetFormFont(this, 12);
    qv::ui::Place(this);  // uic only sizes a top-level window
    connect(btOK, &QPushButton::clicked, this, &TDonePoint::btOKClick);
    connect(btCancel, &QPushButton::clicked, this, &TDonePoint::btCancelClick);
    for (QLineEdit* field : {tfImp1, tfImp2, tfImp3, tfImp4})
        connect(field, &QLineEdit::textChanged, this, &TDonePoint::ShowTotal);
    const std::array<QPushButton*, 4> alone{btPlan1, btPlan2, btPlan3, btPlan4};
    for (size_t k = 0; k < alone.size(); ++k) {
        connect(alone[k], &QPushButton::clicked, this, [this, k] {
            if (plans_.alone[k]) btPlanClick(*plans_.alone[k]);
        });
    }
    connect(btPlanMix, &QPushButton::clicked, this, [this] {
        if (plans_.mixed) btPlanClick(*plans_.mixed);
    });
    // The mixed plan names every implement: its caption wraps onto a second line inside
    // the button instead of being cut off.
    pnPlanMix = new QLabel(btPlanMix);
    pnPlanMix->setObjectName(QStringLiteral("pnPlanMix"));
    pnPlanMix->setTextFormat(Qt::PlainText);
    pnPlanMix->setWordWrap(true);
    pnPlanMix->setAlignment(Qt::AlignCenter);
    pnPlanMix->setAttribute(Qt::WA_TransparentForMouseEvents);
    pnPlanMix->setGeometry(btPlanMix->rect().adjusted(6, 1, -6, -1));
    // Beside each unit field, a mark when what is typed is not read as typed.
    const std::array<QLineEdit*, 4> fields{tfImp1, tfImp2, tfImp3, tfImp4};
    for (size_t k = 0; k < fields.size(); ++k) {
        auto* mark = new QLabel(QStringLiteral("！"), fields[k]->parentWidget());
        mark->setObjectName(QStringLiteral("pnNotNumber%1").arg(k + 1));
        mark->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
        const QRect field = fields[k]->geometry();
        mark->setGeometry(field.right() + 2, field.top(), 13, field.height());
        mark->hide();
        notNumber_[k] = mark;
    }
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
        weights_[static_cast<size_t>(k)] = book->GetImpWeight(k);
        // An implement worth nothing cannot be reported; the field stays empty for good.
        if (book->GetImpWeight(k) <= 0) row.units->setEnabled(false);
    }
    balance_ = ReadBalance();
    pnBalance->setText(QStringLiteral("現在の残高:") +
                       (balance_ ? PointsText(*balance_) : QStringLiteral("不明")));
    ShowPlans();
    ShowTotal();
    qv::ui::NameControls(this);  // now that the rows carry the implements' names
}

std::array<TDonePoint::Row, 4> TDonePoint::Rows() const {
    return {{{pnImp1, tfImp1}, {pnImp2, tfImp2}, {pnImp3, tfImp3}, {pnImp4, tfImp4}}};
}

std::optional<std::int64_t> TDonePoint::ReadBalance() const {
    std::vector<std::string> fields;
    if (PointBalance(info_->GetBalancePath()).Read(fields) != PointBalance::Status::Ok)
        return std::nullopt;
    return qv::ReadInt64(fields[PointBalance::kBalanceField]);
}

qv::execution::PointReportTotal TDonePoint::TypedTotal() const {
    const auto rows = Rows();
    std::array<std::string, 4> typed;
    std::array<qv::execution::PointReportEntry, 4> entries;
    for (size_t k = 0; k < rows.size(); ++k) {
        // Full-width digits count as the digits they are; a text that is no number counts
        // nothing here (報告 refuses it).
        const std::optional<std::int64_t> units = qv::ui::TypedInteger(rows[k].units->text());
        if (rows[k].units->isEnabled() && units) typed[k] = std::to_string(*units);
        entries[k] = {weights_[k], typed[k]};
    }
    return qv::execution::TotalPointReport(entries);
}

void TDonePoint::ShowTotal() {
    if (info_ == nullptr) return;
    const auto rows = Rows();
    for (size_t k = 0; k < rows.size(); ++k) {
        const QString note = NotANumberNote(rows[k].units->text());
        notNumber_[k]->setVisible(!note.isEmpty());
        notNumber_[k]->setToolTip(note);
        notNumber_[k]->setAccessibleName(note);
        rows[k].units->setToolTip(note);
        rows[k].units->setAccessibleDescription(note);
    }
    const qv::execution::PointReportTotal total = TypedTotal();
    if (!total.fits) {
        pnTotal->setText(QStringLiteral("報告の合計:大きすぎます"));
        pnAfter->setText(QStringLiteral("報告後の残高:-"));
        return;
    }
    pnTotal->setText(QStringLiteral("報告の合計:") + PointsText(total.points));
    if (!balance_) {
        pnAfter->setText(QStringLiteral("報告後の残高:不明"));
        return;
    }
    const qv::execution::ReportEffect effect = qv::execution::EffectOfReport(*balance_, total.points);
    QString after = QStringLiteral("報告後の残高:") + PointsText(effect.after);
    if (effect.swallowed > 0)
        after += QStringLiteral("（%1切り捨て）").arg(PointsText(effect.swallowed));
    pnAfter->setText(after);
}

void TDonePoint::ShowPlans() {
    plans_ = balance_ ? qv::execution::PlanPayDown(*balance_, weights_) : qv::execution::PayDownPlans{};
    const auto rows = Rows();
    const std::array<QPushButton*, 4> alone{btPlan1, btPlan2, btPlan3, btPlan4};
    for (size_t k = 0; k < alone.size(); ++k) {
        const auto& plan = plans_.alone[k];
        alone[k]->setVisible(plan.has_value());
        if (plan) {
            const QString name = rows[k].name->text();
            SetPlanCaption(alone[k], name + QStringLiteral("だけで") +
                                         QString::number(plan->units[k]) + qv::ui::UnitOf(name) +
                                         QStringLiteral("（") + PointsText(plan->points) +
                                         QStringLiteral("）"));
        }
    }
    btPlanMix->setVisible(plans_.mixed.has_value());
    if (plans_.mixed) {
        QStringList pieces{QStringLiteral("組み合わせ:")};
        for (size_t k = 0; k < 4; ++k) {
            if (weights_[k] <= 0) continue;
            pieces << QStringLiteral(" ") +
                          qv::ui::CountText(rows[k].name->text(), plans_.mixed->units[k]);
        }
        const QString caption = pieces.join(QString());
        btPlanMix->setText(QString());
        btPlanMix->setToolTip(caption);
        btPlanMix->setAccessibleName(caption);
        qv::ui::ShowPieces(pnPlanMix, pieces);
    }
    const bool any = plans_.mixed.has_value();
    pnNoPlan->setVisible(!any);
    if (!any) {
        if (!balance_)
            pnNoPlan->setText(QStringLiteral("残高を読めないため、計画を立てられません。"));
        else if (*balance_ <= 0)
            pnNoPlan->setText(QStringLiteral("返済するポイントはありません。"));
        else if (*balance_ > 2147483647)
            pnNoPlan->setText(QStringLiteral("残高が大きすぎるため、計画を立てられません。"));
        else
            pnNoPlan->setText(QStringLiteral("重みのある道具がないため、計画を立てられません。"));
    }
}

void TDonePoint::btPlanClick(const qv::execution::PayDownPlan& plan) {
    const auto rows = Rows();
    for (size_t k = 0; k < rows.size(); ++k) {
        if (!rows[k].units->isEnabled()) continue;
        rows[k].units->setText(plan.units[k] > 0 ? QString::number(plan.units[k]) : QString());
    }
}

void TDonePoint::btOKClick() {
    const auto rows = Rows();
    for (const Row& row : rows) {
        if (!row.units->isEnabled() || row.units->text().trimmed().isEmpty()) continue;
        if (!qv::ui::FieldToInteger(row.units->text(), row.units->accessibleName(), this)) {
            row.units->setFocus();
            row.units->selectAll();
            return;
        }
    }
    const qv::execution::PointReportTotal total = TypedTotal();
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
    // Against the balance the window shows: nothing else can change it while this modal
    // window is open, and the debit itself reads the file again.
    if (balance_) {
        const qv::execution::ReportEffect effect = qv::execution::EffectOfReport(*balance_, total.points);
        if (effect.swallowed > 0)
            message += QStringLiteral(
                           "\r\n残高は%1しかないため、残高は0になり、%2は切り捨てられて"
                           "どこにも残りません。")
                           .arg(PointsText(*balance_), PointsText(effect.swallowed));
    }
    if (!qv::ui::MessageBox::Confirm(message)) return;

    if (total.points > 0) {
        // Through the window's session when there is one, so the report can be undone;
        // either way with its ledger line and the old balance kept.
        qv::execution::ReportSession own(*info_);
        const qv::execution::Outcome outcome =
            (session_ != nullptr ? *session_ : own).Report(total.units, total.points);
        const PointBalance::Status status = outcome.balance;
        const qv::io::IoError& error = outcome.error;
        if (status != PointBalance::Status::Ok) {
            // Not booked: the window stays open with the entries, so nothing is lost.
            qv::ui::MessageBox::Show(
                qv::ui::ReportNotBookedText(status, info_->GetBalancePath(), error), this);
            return;
        }
        const QString told =
            qv::ui::SideEffectsText(outcome.effects, *info_);
        if (!told.isEmpty()) qv::ui::MessageBox::Show(told, this);
    }
    accept();
}

void TDonePoint::btCancelClick() { reject(); }
